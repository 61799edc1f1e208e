// The bitmap push button: the made disabled image, the transparent key colour, and its faces as
// drawn in each state (pictured in tests/data/bmpbutton.txt); and which caption bitmap each button
// of the device dialogs shows.

#include "config/LocalConfigDlg.h"
#include "config/RemoteConfigDlg.h"
#include "controls/BmpButton.h"
#include "platform/Bitmaps.h"
#include "platform/SysColors.h"
#include "records/ClearConfirmDlg.h"
#include "records/LocalRecordDlg.h"
#include "records/RemoteRecordDlg.h"

#include "support/Suite.h"

// The image as rows of letters: H highlight, S shadow, - face (the 3D light too), K black (the dark
// shadow too), . the face inverted (a dot of the focus rectangle), ? any other colour.
static QStringList Picture(const QImage& img) {
    const QRgb face = GetSysColor(COLOR_BTNFACE).rgb();
    const QRgb highlight = GetSysColor(COLOR_BTNHIGHLIGHT).rgb(), shadow = GetSysColor(COLOR_BTNSHADOW).rgb();
    const QList<QRgb> colours = {highlight, shadow, face, qRgb(0, 0, 0), face ^ 0xFFFFFF};
    QStringList rows(img.height());
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            rows[y] += "?HS-K."[colours.indexOf(img.pixel(x, y)) + 1];
    return rows;
}

class TestBmpButton : public QObject {
    Q_OBJECT
private slots:
    // Pixels of the key colour (the bottom-left one) become the face; of the others, those whose
    // red + green + blue exceeds the truncated average become shadow, the rest highlight.
    void disabledImageIsTwoTone() {
        QImage src(4, 2, QImage::Format_RGB32), made;
        src.fill(qRgb(192, 192, 192));
        src.setPixel(0, 0, qRgb(1, 0, 0)); // sums 1, 2, 2: the average 5 / 3 is 1
        src.setPixel(1, 0, qRgb(0, 2, 0));
        src.setPixel(2, 0, qRgb(1, 0, 1));
        CBmpButton::MakeDisabledBitmap(made, src);
        QCOMPARE(Picture(made), QStringList({"HSS-", "----"}));
    }

    // Drawn transparently, the pixels of the image's bottom-left colour leave the target as it was.
    void transparentWhereTheBottomLeftColourIs() {
        QImage bmp(1, 3, QImage::Format_RGB32), out(1, 3, QImage::Format_RGB32);
        bmp.fill(qRgb(0, 0, 0));
        bmp.setPixel(0, 2, qRgb(0, 0, 255));
        out.fill(GetSysColor(COLOR_BTNFACE));
        QPainter dc(&out);
        CBmpButton::DrawTransparent(dc, 0, 0, bmp, 1, 0);
        QCOMPARE(Picture(out), QStringList({"K", "K", "-"}));
    }

    // A 60 x 24 button given SetBitmaps(1, id), drawn in each state as tests/data/bmpbutton.txt
    // pictures it.
    void facesAsDrawn() {
        QFile file(QFINDTESTDATA("data/bmpbutton.txt"));
        QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
        QStringList drawn;
        for (auto [name, state, id] : {std::tuple("raised", 0u, 142),
                                       {"focused", ODS_FOCUS, 154},
                                       {"pressed", ODS_SELECTED, 154},
                                       {"disabled", ODS_DISABLED, 154}}) {
            CBmpButton button;
            button.SetBitmaps(1, id);
            QImage out(60, 24, QImage::Format_RGB32);
            QPainter dc(&out);
            button.DrawItem(dc, out.rect(), state);
            drawn << QString("%1, bitmap %2:").arg(name).arg(id) << Picture(out);
        }
        QCOMPARE(drawn, QString::fromUtf8(file.readAll()).split('\n').filter(QRegularExpression("^[^#]")));
    }

    // The button on screen is what DrawItem draws for its state: raised, held down, disabled.
    void paintsItsState_data() {
        QTest::addColumn<unsigned>("state");
        QTest::newRow("raised") << 0u;
        QTest::newRow("pressed") << ODS_SELECTED;
        QTest::newRow("disabled") << ODS_DISABLED;
    }
    void paintsItsState() {
        QFETCH(unsigned, state);
        CBmpButton button;
        button.SetBitmaps(1, 154);
        button.resize(60, 24);
        button.setDown(state == ODS_SELECTED);
        button.setEnabled(state != ODS_DISABLED);
        QImage drawn(60, 24, QImage::Format_RGB32);
        QPainter dc(&drawn);
        button.DrawItem(dc, drawn.rect(), state);
        QCOMPARE(Picture(button.grab().toImage().convertToFormat(QImage::Format_RGB32)), Picture(drawn));
    }

    // Each dialog's buttons by control id and the caption bitmap each shows, in both languages: on
    // the clear confirmation YES is control 1 (it clears the log) and NO control 2.
    void dialogButtonsShowTheirBitmaps_data() {
        QTest::addColumn<int>("chinese");
        QTest::addColumn<QString>("bitmaps"); // control id:bitmap id, ...
        const QString record = "2:156 3:158 4:157", recordZh = "2:138 3:140 4:139";
        const QString config = "2:156 5:160 6:159 7:190", configZh = "2:138 5:141 6:142 7:189";
        QTest::newRow("clear confirmation") << 0 << "1:155 2:154";
        QTest::newRow("clear confirmation zh") << 1 << "1:145 2:144";
        QTest::newRow("local records") << 0 << record;
        QTest::newRow("local records zh") << 1 << recordZh;
        QTest::newRow("remote records") << 0 << record;
        QTest::newRow("remote records zh") << 1 << recordZh;
        QTest::newRow("local config") << 0 << config;
        QTest::newRow("local config zh") << 1 << configZh;
        QTest::newRow("remote config") << 0 << config;
        QTest::newRow("remote config zh") << 1 << configZh;
    }
    void dialogButtonsShowTheirBitmaps() {
        QFETCH(int, chinese);
        QFETCH(QString, bitmaps);
        MemoryCommBackend::InstallFactory();
        const QString dialog = QString(QTest::currentDataTag()).remove(" zh");
        std::unique_ptr<CDialog> dlg;
        if (dialog == "clear confirmation")
            dlg = OpenDialog<CClearConfirmDlg>(chinese);
        else if (dialog == "local records")
            dlg = OpenDialog<CLocalRecordDlg>(chinese);
        else if (dialog == "remote records")
            dlg = OpenDialog<CRemoteRecordDlg>(chinese);
        else if (dialog == "local config")
            dlg = OpenDialog<CLocalConfigDlg>(chinese);
        else
            dlg = OpenDialog<CRemoteConfigDlg>(chinese);
        for (const QString& pair : bitmaps.split(' ')) {
            const auto* button = qobject_cast<CBmpButton*>(dlg->GetDlgItem(pair.section(':', 0, 0).toInt()));
            QVERIFY2(button, qPrintable(pair));
            const QImage expected = LoadBitmapResource(pair.section(':', 1).toInt());
            QVERIFY(!expected.isNull());
            QVERIFY2(button->m_bmpNormal == expected, qPrintable(pair));
        }
    }
};

QTEST_MAIN(TestBmpButton)
#include "tst_bmpbutton.moc"
