// Every dialog template of both languages as tests/data/templates.txt holds it: title, size in
// dialog units, font and close box, then each control in tab order with its kind, id, caption,
// position and style bits. The file was checked against the dialogs' template tables; a control
// moved, resized, renamed or restyled shows as the one line that differs.

#include "res/DialogTemplates.h"
#include "support/Suite.h"

namespace {

const char* const kKinds[] = {"PushButton", "DefPushButton", "LText",    "RText",   "CText",
                              "GroupBox",   "Edit",          "ComboBox", "ListBox", "Icon",
                              "DatePicker", "TimePicker",    "Progress", "Serial"};

QStringList Described(const DlgTemplate& t) {
    QStringList lines{QString::asprintf("%s | %d x %d | %s %d pt%s", t.title, t.cx, t.cy, t.fontFace,
                                        t.fontPoints, t.systemMenu ? " | close box" : "")};
    for (const DlgControl& c : t.controls)
        lines << QString::asprintf("%s %d \"%s\" %d, %d, %d, %d style %x", kKinds[int(c.kind)], c.id,
                                   QByteArray(c.text).replace('\n', '|').constData(), c.x, c.y, c.cx, c.cy,
                                   c.style);
    return lines;
}

// The golden lines of template `id`: those of the file that begin with "<id>: ".
QStringList Golden(int id) {
    QFile file(QStringLiteral(LMX207_TEST_DATA "/templates.txt"));
    QStringList lines;
    if (file.open(QIODevice::ReadOnly))
        for (const QString& line : QString::fromUtf8(file.readAll()).split('\n'))
            if (line.startsWith(QString::number(id) + ": "))
                lines << line.section(QStringLiteral(": "), 1);
    return lines;
}

} // namespace

class TestTemplates : public QObject {
    Q_OBJECT
private slots:
    void templateAsDescribed_data() {
        QTest::addColumn<int>("id");
        for (const auto* list : {&AccessDialogTemplates(), &LinkDialogTemplates(), &ConfigDialogTemplates(),
                                 &RecordDialogTemplates()})
            for (const DlgTemplate& t : *list)
                QTest::addRow("%d %s", t.id, t.title) << t.id;
    }
    void templateAsDescribed() {
        QFETCH(int, id);
        QCOMPARE(Described(*FindDialogTemplate(id)), Golden(id));
    }
};

QTEST_MAIN(TestTemplates)
#include "tst_templates.moc"
