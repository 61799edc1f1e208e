#include "app/KelpApp.h"
#include "records/ClearConfirmDlg.h"
#include "support/TestEnv.h"

#include <QApplication>
#include <QLabel>
#include <QTest>

#include <functional>

class TestClearConfirm : public QObject {
    Q_OBJECT
    TestEnv m_env;

private slots:
    void cleanup() { g_bChinese = 0; }
    void dialog_data();
    void dialog();
};

void TestClearConfirm::dialog_data() {
    QTest::addColumn<int>("chinese");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    // dialog cx, cy; Yes x; No x; text x, y, cx; Yes and No bitmap widths
    QTest::addColumn<QList<int>>("g");
    QTest::newRow("143") << 1 << QString::fromUtf8("警告")
                         << QString::fromUtf8("装置中的所有记录都将丢失！真要清除吗？")
                         << QList<int>{174, 65, 28, 101, 13, 13, 154, 17, 15};
    QTest::newRow("161") << 0 << QString("Alarm") << QString("All records in LMX-207 will lost !  Continue ?")
                         << QList<int>{179, 65, 20, 95, 13, 14, 149, 27, 19};
}

// The template in each language; Yes ends with IDOK, No, Escape and the close box with IDCANCEL.
void TestClearConfirm::dialog() {
    QFETCH(int, chinese);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(QList<int>, g);
    g_bChinese = chinese;
    CClearConfirmDlg dlg;
    dlg.Create();
    QCOMPARE(dlg.windowTitle(), title);
    QCOMPARE(dlg.size(), dlg.MapDialogRect(0, 0, g[0], g[1]).size());
    QCOMPARE(dlg.GetDlgItem(IDOK), static_cast<QWidget*>(&dlg.m_btnYes));
    QCOMPARE(dlg.GetDlgItem(IDCANCEL), static_cast<QWidget*>(&dlg.m_btnNo));
    QCOMPARE(dlg.m_btnYes.geometry(), dlg.MapDialogRect(g[2], 36, 43, 14));
    QCOMPARE(dlg.m_btnNo.geometry(), dlg.MapDialogRect(g[3], 36, 43, 14));
    QCOMPARE(QList<int>({dlg.m_btnYes.m_nWidth, dlg.m_btnNo.m_nWidth}), g.mid(7));
    QLabel* label = nullptr;
    for (QLabel* l : dlg.findChildren<QLabel*>())
        label = l->text() == text ? l : label;
    QVERIFY(label);
    QCOMPARE(label->geometry(), dlg.MapDialogRect(g[4], g[5], g[6], 8));

    using Act = std::function<void(CClearConfirmDlg&)>;
    const QList<QPair<Act, int>> results = {
        {[](CClearConfirmDlg& d) { d.m_btnYes.click(); }, IDOK},
        {[](CClearConfirmDlg& d) { d.m_btnNo.click(); }, IDCANCEL},
        {[](CClearConfirmDlg& d) { QTest::keyClick(&d, Qt::Key_Escape); }, IDCANCEL},
        {[](CClearConfirmDlg& d) { d.close(); }, IDCANCEL}};
    for (const auto& [act, expected] : results) {
        CClearConfirmDlg d;
        d.Create();
        d.show();
        act(d);
        QCOMPARE(d.result(), expected);
    }
}

QTEST_MAIN(TestClearConfirm)
#include "tst_clearconfirm.moc"
