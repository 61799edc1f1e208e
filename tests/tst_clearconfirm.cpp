#include "app/KelpApp.h"
#include "records/ClearConfirmDlg.h"
#include "support/TestEnv.h"

#include <QApplication>
#include <QLabel>
#include <QTest>

class TestClearConfirm : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { m_env = new TestEnv; }
    void cleanup() { g_bChinese = 0; }
    void templates_data();
    void templates();
    void results();

private:
    TestEnv* m_env = nullptr;
};

void TestClearConfirm::templates_data() {
    QTest::addColumn<int>("chinese");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<int>>("geometry"); // dialog cx, cy; Yes x; No x; text x, y, cx
    QTest::addColumn<QList<int>>("bitmaps");  // Yes width, No width
    QTest::newRow("143") << 1 << QString::fromUtf8("警告")
                         << QString::fromUtf8("装置中的所有记录都将丢失！真要清除吗？")
                         << QList<int>{174, 65, 28, 101, 13, 13, 154} << QList<int>{17, 15};
    QTest::newRow("161") << 0 << QString("Alarm") << QString("All records in LMX-207 will lost !  Continue ?")
                         << QList<int>{179, 65, 20, 95, 13, 14, 149} << QList<int>{27, 19};
}

void TestClearConfirm::templates() {
    QFETCH(int, chinese);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(QList<int>, geometry);
    QFETCH(QList<int>, bitmaps);
    g_bChinese = chinese;
    CClearConfirmDlg dlg;
    dlg.Create();
    QCOMPARE(dlg.windowTitle(), title);
    QCOMPARE(dlg.size(), dlg.MapDialogRect(0, 0, geometry[0], geometry[1]).size());
    QCOMPARE(dlg.GetDlgItem(IDOK), static_cast<QWidget*>(&dlg.m_btnYes));
    QCOMPARE(dlg.GetDlgItem(IDCANCEL), static_cast<QWidget*>(&dlg.m_btnNo));
    QCOMPARE(dlg.m_btnYes.geometry(), dlg.MapDialogRect(geometry[2], 36, 43, 14));
    QCOMPARE(dlg.m_btnNo.geometry(), dlg.MapDialogRect(geometry[3], 36, 43, 14));
    QCOMPARE(dlg.m_btnYes.m_nWidth, bitmaps[0]);
    QCOMPARE(dlg.m_btnNo.m_nWidth, bitmaps[1]);
    QLabel* label = nullptr;
    for (QLabel* l : dlg.findChildren<QLabel*>())
        if (l->text() == text)
            label = l;
    QVERIFY(label);
    QCOMPARE(label->geometry(), dlg.MapDialogRect(geometry[4], geometry[5], geometry[6], 8));
}

// Yes ends with IDOK; No, Escape and the close box with IDCANCEL.
void TestClearConfirm::results() {
    {
        CClearConfirmDlg dlg;
        dlg.Create();
        dlg.m_btnYes.click();
        QCOMPARE(dlg.result(), int(IDOK));
    }
    {
        CClearConfirmDlg dlg;
        dlg.Create();
        dlg.m_btnNo.click();
        QCOMPARE(dlg.result(), int(IDCANCEL));
    }
    {
        CClearConfirmDlg dlg;
        dlg.Create();
        dlg.show();
        QTest::keyClick(&dlg, Qt::Key_Escape);
        QCOMPARE(dlg.result(), int(IDCANCEL));
    }
    {
        CClearConfirmDlg dlg;
        dlg.Create();
        dlg.show();
        dlg.close();
        QCOMPARE(dlg.result(), int(IDCANCEL));
    }
}

QTEST_MAIN(TestClearConfirm)
#include "tst_clearconfirm.moc"
