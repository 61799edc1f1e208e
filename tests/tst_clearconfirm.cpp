// The clear confirmation on the template of each language. Yes and No, as the record dialogs act on
// them, are in tst_records (clearAsksFirst); Escape and the close box are the dialog base's.
#include "records/ClearConfirmDlg.h"
#include "support/Suite.h"

class TestClearConfirm : public QObject {
    Q_OBJECT

private slots:
    // The title and the question as quoted, in English and in Chinese.
    void texts() {
        for (int chinese : {0, 1}) {
            const auto texts = GoldenTexts(chinese ? "record-texts-chinese.txt" : "record-texts-english.txt");
            const auto dlg = OpenDialog<CClearConfirmDlg>(chinese);
            QCOMPARE(dlg->windowTitle(), texts["confirm title"]);
            QCOMPARE(dlg->findChild<QLabel*>()->text(), texts["confirm question"]);
        }
    }
};

QTEST_MAIN(TestClearConfirm)
#include "tst_clearconfirm.moc"
