// Every dialog template of both languages as tests/data/templates.txt holds it: title, size in
// dialog units, font and close box, then each control in tab order with its kind, id, caption,
// position and style bits. The file was checked against the dialogs' template tables; a control
// moved, resized, renamed or restyled shows as the one line that differs. And each built at its
// size in pixels.

#include "platform/Dialog.h"
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

    // Built, the dialog and each control with an id of its own stand where the template puts
    // them: dialog units times the template font's base units (the average width of the 52
    // letters, and the line height) over 4 across and 8 down, rounded to the nearest pixel.
    void builtAtTheTemplatesPixels_data() { templateAsDescribed_data(); }
    void builtAtTheTemplatesPixels() {
        QFETCH(int, id);
        const DlgTemplate& t = *FindDialogTemplate(id);
        CDialog dlg(id);
        dlg.Create();
        const QFontMetrics fm(dlg.font());
        const double bx =
            qRound(fm.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") / 52.0);
        const double by = fm.height();
        const auto px = [&](int x, int y, int cx, int cy) {
            return QString("%1, %2, %3 x %4")
                .arg(qRound(x * bx / 4))
                .arg(qRound(y * by / 8))
                .arg(qRound(cx * bx / 4))
                .arg(qRound(cy * by / 8));
        };
        const auto at = [](const QRect& r) {
            return QString("%1, %2, %3 x %4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
        };
        QStringList seen{"dialog " + at(dlg.rect())}, expected{"dialog " + px(0, 0, t.cx, t.cy)};
        for (const DlgControl& c : t.controls)
            if (QWidget* w = c.id == IDC_STATIC ? nullptr : dlg.GetDlgItem(c.id)) {
                seen << QString("%1 at %2").arg(c.id).arg(at(w->geometry()));
                expected << QString("%1 at %2").arg(c.id).arg(px(c.x, c.y, c.cx, c.cy));
            }
        QCOMPARE(seen, expected);
    }
};

QTEST_MAIN(TestTemplates)
#include "tst_templates.moc"
