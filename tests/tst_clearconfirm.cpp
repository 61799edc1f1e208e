#include "app/KelpApp.h"
#include "records/ClearConfirmDlg.h"
#include "support/TestEnv.h"

#include <QLabel>
#include <QTest>

#include <functional>

class TestClearConfirm : public QObject {
    Q_OBJECT
    TestEnv m_env;

private slots:
    void dialog_data();
    void dialog();
};

void TestClearConfirm::dialog_data() {
    QTest::addColumn<QStringList>("texts"); // title, question
    // Chinese; dialog cx, cy; Yes x; No x; question x, y, cx; Yes and No bitmap widths
    QTest::addColumn<QList<int>>("g");
    QTest::newRow("143") << QStringList{QString::fromUtf8("警告"),
                                        QString::fromUtf8("装置中的所有记录都将丢失！真要清除吗？")}
                         << QList<int>{1, 174, 65, 28, 101, 13, 13, 154, 17, 15};
    QTest::newRow("161") << QStringList{"Alarm", "All records in LMX-207 will lost !  Continue ?"}
                         << QList<int>{0, 179, 65, 20, 95, 13, 14, 149, 27, 19};
}

// The template in each language; Yes ends with IDOK, No, Escape and the close box with IDCANCEL.
void TestClearConfirm::dialog() {
    QFETCH(QStringList, texts);
    QFETCH(QList<int>, g);
    g_bChinese = g[0];
    CClearConfirmDlg dlg;
    dlg.Create();
    auto* question = dlg.findChild<QLabel*>();
    QVERIFY(question);
    QCOMPARE(QStringList({dlg.windowTitle(), question->text()}), texts);
    QCOMPARE(QList<QWidget*>({dlg.GetDlgItem(IDOK), dlg.GetDlgItem(IDCANCEL)}),
             QList<QWidget*>({&dlg.m_btnYes, &dlg.m_btnNo}));
    QCOMPARE(QList<int>({dlg.m_btnYes.m_nWidth, dlg.m_btnNo.m_nWidth}), g.mid(8));
    QCOMPARE(
        QList<QRect>({dlg.rect(), dlg.m_btnYes.geometry(), dlg.m_btnNo.geometry(), question->geometry()}),
        QList<QRect>({dlg.MapDialogRect(0, 0, g[1], g[2]), dlg.MapDialogRect(g[3], 36, 43, 14),
                      dlg.MapDialogRect(g[4], 36, 43, 14), dlg.MapDialogRect(g[5], g[6], g[7], 8)}));

    const std::function<void()> ways[] = {[&] { dlg.m_btnYes.click(); }, [&] { dlg.m_btnNo.click(); },
                                          [&] { QTest::keyClick(&dlg, Qt::Key_Escape); },
                                          [&] { dlg.close(); }};
    for (int i = 0; i < 4; ++i) {
        dlg.setResult(-1);
        dlg.show();
        ways[i]();
        QCOMPARE(dlg.result(), i ? IDCANCEL : IDOK);
    }
}

QTEST_MAIN(TestClearConfirm)
#include "tst_clearconfirm.moc"
