#include "support/DialogTestSupport.h"

#include "records/ClearConfirmDlg.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QListWidget>
#include <QProgressBar>
#include <QTimer>

const int kGridIds[3][8] = {
    {1010, 1013, 1016, 1019, 1028, 1031, 1037, 1040},
    {1011, 1014, 1017, 1020, 1029, 1032, 1038, 1041},
    {1012, 1015, 1018, 1021, 1034, 1033, 1036, 1039},
};

QList<int> Selections(CDialog& dlg) {
    QList<int> s;
    for (int row = 0; row < 3; ++row)
        for (int k = 1; k <= 8; ++k)
            s << dlg.GetDlgItemAs<QComboBox>(kGridIds[row][k - 1])->currentIndex();
    return s;
}

static const char* OnOff(CDialog& dlg, int id) {
    return dlg.GetDlgItem(id)->isEnabled() ? "on" : "off";
}

QString ConfigState(CDialog& d, int timers) {
    QString s = QString("%1 | address %2, %3 %4, config %5, time %6, timers")
                    .arg(d.GetDlgItemText(1005), d.GetDlgItemText(1077), d.GetDlgItemText(1001),
                         d.GetDlgItemText(1002), OnOff(d, 6), OnOff(d, 5));
    for (UINT id = 1; id <= UINT(timers); ++id)
        s += ' ' + QString::number(d.TimerPeriod(id));
    return s;
}

QString RecordState(CDialog& d) {
    return QString("%1 | list %2, progress %3, update %4, clear %5, timer %6")
        .arg(d.GetDlgItemText(1005))
        .arg(d.GetDlgItemAs<QListWidget>(1003)->count())
        .arg(d.GetDlgItemAs<QProgressBar>(1006)->value())
        .arg(OnOff(d, 3), OnOff(d, 4))
        .arg(d.TimerPeriod(1));
}

QStringList Lines(CDialog& d) {
    QStringList lines;
    const QListWidget* list = d.GetDlgItemAs<QListWidget>(1003);
    for (int i = 0; i < list->count(); ++i)
        lines << list->item(i)->text();
    return lines;
}

void AnswerConfirmation(int button) {
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, button] {
        auto* dlg = qobject_cast<CClearConfirmDlg*>(QApplication::activeModalWidget());
        if (!dlg)
            return;
        timer->stop();
        timer->deleteLater();
        (button == IDOK ? dlg->m_btnYes : dlg->m_btnNo).click();
    });
    timer->start();
}

QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}
