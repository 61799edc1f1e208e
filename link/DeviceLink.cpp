#include "link/DeviceLink.h"

#include "app/KelpApp.h"
#include "platform/Dialog.h"
#include "platform/Platform.h"

#include <QLabel>

#include <climits>

bool OpenDevicePort(CDialog* dlg, CMSComm& comm, QLabel* status) {
    SyncFrameworkTranslation(); // the platform's own part of a refusal in the interface's language
    const QString port = AfxGetApp().m_strPort;
    comm.SetCommPort(port == QLatin1String("COM1") ? 1 : 2);
    if (comm.GetPortOpen()) {
        MessageBox(dlg, QStringLiteral("cannot open serial port"), AfxAppName(), MB_OK);
    } else {
        comm.SetPortOpen(TRUE);
        if (!comm.GetPortOpen()) {
            // The platform refused the device: say why, and start no exchange.
            const QString why = comm.OpenError();
            MessageBox(dlg, why, AfxAppName(), MB_OK | MB_ICONEXCLAMATION);
            if (status) {
                status->setText(why.section('\n', 0, 0));
                status->setToolTip(why);
            }
            return false;
        }
    }
    comm.SetSettings(QStringLiteral("9600,n,8,1"));
    comm.SetInputMode(1);
    comm.SetRThreshold(1);
    comm.SetInputLen(0);
    comm.GetInput(); // whatever was waiting never reaches the dialog
    return true;
}

void SendCommandByte(CMSComm& comm, BYTE b) {
    comm.SetOutput(QByteArray(1, char(b)));
}

bool ReceiveIntoBuffer(CMSComm& comm, BYTE* rxBuf, int capacity, int& nRxCount, int& nAnswer) {
    if (comm.GetCommEvent() != 2)
        return false;
    const QByteArray input = comm.GetInput();
    for (char c : input) {
        if (nRxCount >= 0 && nRxCount < capacity)
            rxBuf[nRxCount] = BYTE(c);
        if (nRxCount < INT_MAX)
            ++nRxCount; // surplus bytes are counted, never stored
    }
    nAnswer = rxBuf[0];
    return true;
}

QString LinkErrorText() {
    return g_bChinese ? QStringLiteral("连接失败！请检查连线、串口选择及装置电源！")
                      : QStringLiteral("Link error !  Please check the cable , serial port and power !");
}

QString RemoteUnreachableText() {
    return g_bChinese ? QStringLiteral("接收告警或系统忙，无法读取对侧记录！")
                      : QStringLiteral("Receive alarm or the system is busy, can't get the remote records !");
}

void LinkErrorBeeps() {
    for (int i = 0; i < 100; ++i)
        MessageBeep(0);
}
