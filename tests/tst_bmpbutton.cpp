#include "controls/BmpButton.h"
#include "platform/Bitmaps.h"
#include "platform/SysColors.h"
#include "support/TestEnv.h"

#include <QApplication>
#include <QFile>
#include <QPainter>
#include <QtTest>
#include <memory>

namespace {

const QRgb kGrey = qRgb(192, 192, 192);
const QRgb kBlack = qRgb(0, 0, 0);
QRgb Sys(int index) {
    return GetSysColor(index).rgb();
}

// Compares the pixels named "x,y=C ..." with C one of H highlight, L 3D light, S shadow, D 3D dark
// shadow, F face, K black, . a dot of the focus rectangle (the face inverted); returns the misses.
QString Pixels(const QImage& out, const char* points) {
    const int roles[] = {COLOR_BTNHIGHLIGHT, COLOR_3DLIGHT, COLOR_BTNSHADOW, COLOR_3DDKSHADOW, COLOR_BTNFACE};
    QString missed;
    for (const QByteArray& point : QByteArray(points).split(' ')) {
        const QList<QByteArray> xy = point.left(point.indexOf('=')).split(',');
        const char c = point.back();
        const QRgb expected = c == 'K'   ? kBlack
                              : c == '.' ? Sys(COLOR_BTNFACE) ^ 0xFFFFFF
                                         : Sys(roles[QByteArray("HLSDF").indexOf(c)]);
        if (out.pixel(xy[0].toInt(), xy[1].toInt()) != expected)
            missed += QString::fromLatin1(point) + QLatin1Char(' ');
    }
    return missed;
}

QImage Render(CBmpButton& button, QSize size, unsigned state) {
    QImage out(size, QImage::Format_RGB32);
    out.fill(qRgb(255, 0, 255));
    QPainter dc(&out);
    button.DrawItem(dc, QRect(QPoint(0, 0), size), state);
    return out;
}

// Checks that `img` shows at (x, y) in `out`: its lettering pixel for pixel, its key colour as the
// button face, as far as it lies inside the area within the frame.
bool ShowsImageAt(const QImage& out, const QImage& img, int x, int y, int frame) {
    const QRgb key = img.pixel(0, img.height() - 1);
    int compared = 0;
    for (int j = 0; j < img.height(); ++j) {
        for (int i = 0; i < img.width(); ++i) {
            const int ox = x + i;
            const int oy = y + j;
            if (ox < frame || oy < frame || ox >= out.width() - frame || oy >= out.height() - frame)
                continue;
            if (out.pixel(ox, oy) != (img.pixel(i, j) == key ? Sys(COLOR_BTNFACE) : img.pixel(i, j)))
                return false;
            ++compared;
        }
    }
    return compared > 0;
}

} // namespace

class TestBmpButton : public QObject {
    Q_OBJECT
    std::unique_ptr<TestEnv> m_env;

private slots:
    void initTestCase() { m_env = std::make_unique<TestEnv>(); }
    void cleanup() { ResetSysColorsForTest(); }

    // Every caption bitmap and both toolbar strips: a 4-bit BMP of the size the buttons and bars
    // are laid out for, black lettering on the grey key; disabled, the lettering turns highlight.
    void resourceBitmaps() {
        const int resources[][3] = {
            {138, 32, 17}, {139, 65, 18},  {140, 65, 18}, {141, 111, 18}, {142, 64, 18},
            {144, 15, 16}, {145, 17, 16},  {146, 32, 17}, {189, 64, 18},  {153, 26, 16},
            {154, 19, 16}, {155, 27, 16},  {156, 26, 16}, {157, 86, 16},  {158, 96, 16},
            {159, 81, 16}, {160, 119, 16}, {190, 84, 16}, {128, 336, 18}, {150, 354, 18},
        };
        for (const auto& [id, width, height] : resources) {
            QFile file(QStringLiteral(":/res/bitmaps/%1.bmp").arg(id));
            file.open(QIODevice::ReadOnly);
            const QByteArray bytes = file.read(30);
            QCOMPARE(bytes.left(2), QByteArray("BM"));
            QCOMPARE(bytes.at(28), char(4)); // bits per pixel
            const QImage img = LoadBitmapResource(id);
            QCOMPARE(img.size(), QSize(width, height));
            QImage disabled;
            CBmpButton::MakeDisabledBitmap(disabled, img);
            int black = 0;
            for (int y = 0; y < height; ++y) {
                for (int x = 0; x < width; ++x) {
                    const QRgb c = img.pixel(x, y);
                    QVERIFY2(c == kGrey || c == kBlack, qPrintable(QString::number(id)));
                    black += c == kBlack;
                    QCOMPARE(disabled.pixel(x, y), Sys(c == kBlack ? COLOR_BTNHIGHLIGHT : COLOR_BTNFACE));
                }
            }
            QVERIFY2(black > 0 && img.pixel(0, height - 1) == kGrey, qPrintable(QString::number(id)));
        }
        QVERIFY(LoadBitmapResource(0).isNull() && LoadBitmapResource(-1).isNull());
        QVERIFY(!AppIcon().pixmap(32, 32).isNull());
    }

    void disabledImageRule() {
        // All pixels in the key colour: the whole image becomes the face.
        QImage target;
        QImage src(7, 5, QImage::Format_RGB32);
        src.fill(qRgb(10, 20, 30));
        CBmpButton::MakeDisabledBitmap(target, src);
        QCOMPARE(target.size(), QSize(7, 5));
        QCOMPARE(Pixels(target, "6,0=F 0,4=F 3,2=F"), QString());
        // Sums 1, 2 and 2: the average 5 / 3 truncates to 1, so 2 lies above it and 1 does not.
        src.fill(kGrey);
        src.setPixel(0, 0, qRgb(1, 0, 0));
        src.setPixel(1, 0, qRgb(0, 2, 0));
        src.setPixel(2, 0, qRgb(1, 0, 1));
        CBmpButton::MakeDisabledBitmap(target, src);
        QCOMPARE(Pixels(target, "0,0=H 1,0=S 2,0=S 3,0=F"), QString());
        // The key is the bottom-left pixel, whatever colour it has, even when most pixels differ;
        // the rest, all equal to the average, turn highlight.
        src.fill(qRgb(255, 255, 255));
        src.setPixel(0, 4, kBlack);
        CBmpButton::MakeDisabledBitmap(target, src);
        QCOMPARE(Pixels(target, "0,4=F 2,0=H"), QString());
        CBmpButton::MakeDisabledBitmap(target, QImage());
        QVERIFY(target.isNull());
    }

    void disabledKeepsColoursOfSetBitmaps() {
        SetSysColorForTest(COLOR_BTNFACE, QColor(200, 100, 50));
        SetSysColorForTest(COLOR_BTNHIGHLIGHT, QColor(255, 0, 0));
        CBmpButton button;
        QCOMPARE(button.SetBitmaps(1, 156), 1);
        QImage made;
        CBmpButton::MakeDisabledBitmap(made, LoadBitmapResource(156));
        ResetSysColorsForTest();
        // The old face is the image's key: the button's present face shows through.
        QCOMPARE(button.m_bmpDisabled, made);
        QVERIFY(ShowsImageAt(Render(button, QSize(100, 24), ODS_DISABLED), made, 37, 4, 2));
    }

    void imagePosition_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<unsigned>("state");
        QTest::addColumn<QPoint>("at");
        QTest::newRow("16 high") << 156 << QSize(100, 24) << 0u << QPoint(37, 4);
        QTest::newRow("16 high, pressed") << 156 << QSize(100, 24) << ODS_SELECTED << QPoint(38, 5);
        QTest::newRow("17 high") << 138 << QSize(100, 24) << 0u << QPoint(34, 3);
        QTest::newRow("18 high: a row higher") << 139 << QSize(100, 24) << 0u << QPoint(17, 2);
        QTest::newRow("18 high, pressed") << 139 << QSize(100, 24) << ODS_SELECTED << QPoint(18, 3);
        // Halvings truncate toward zero: (12 - 16) / 2 = -2, (20 - 65) / 2 = -22, clipped.
        QTest::newRow("button lower than 16") << 154 << QSize(41, 12) << 0u << QPoint(11, -2);
        QTest::newRow("button narrower than image") << 139 << QSize(20, 24) << 0u << QPoint(-22, 2);
    }
    void imagePosition() {
        QFETCH(int, id);
        QFETCH(QSize, size);
        QFETCH(unsigned, state);
        QFETCH(QPoint, at);
        CBmpButton button;
        button.SetBitmaps(1, id);
        QVERIFY(ShowsImageAt(Render(button, size, state), LoadBitmapResource(id), at.x(), at.y(), 2));
    }

    void setBitmapsReplaces() {
        CBmpButton button;
        QCOMPARE(button.SetBitmaps(1, 139, 140, 141, 142), 1);
        QCOMPARE(button.m_bmpPressed.size(), QSize(65, 18));
        QCOMPARE(button.m_bmpFocus.size(), QSize(111, 18));
        QCOMPARE(button.m_bmpDisabled, LoadBitmapResource(142)); // loaded, not made

        // Only the low 16 bits of an id count; the earlier images are let go.
        QCOMPARE(button.SetBitmaps(1, 0x10000 | 156), 1);
        QCOMPARE(QSize(button.m_nWidth, button.m_nHeight), QSize(26, 16));
        QCOMPARE(button.m_bmpNormal, LoadBitmapResource(156));
        QVERIFY(button.m_bmpPressed.isNull() && button.m_bmpFocus.isNull());
        QCOMPARE(button.m_bmpDisabled.size(), QSize(26, 16));

        // A focus image is drawn in place of the normal one while the button has the focus.
        button.SetBitmaps(1, 154, 0, 144); // 19 x 16 and 15 x 16
        QVERIFY(ShowsImageAt(Render(button, QSize(100, 24), ODS_FOCUS), LoadBitmapResource(144), 40, 4, 5));

        // An id that names no bitmap leaves the button empty; it still draws its frame.
        QCOMPARE(button.SetBitmaps(1, 143), 1);
        QVERIFY(button.m_bmpNormal.isNull() && button.m_bmpDisabled.isNull() && button.m_nWidth == 0);
        const QImage out = Render(button, QSize(30, 20), ODS_SELECTED | ODS_FOCUS);
        QCOMPARE(Pixels(out, "0,0=K 15,10=F"), QString());
    }

    // The frame of each state in a 60 x 24 button, at its telling pixels.
    void frames() {
        CBmpButton button;
        button.SetBitmaps(1, 154);
        const QSize size(60, 24);
        // Raised: highlight over dark shadow, light over shadow, no focus rectangle.
        QCOMPARE(Pixels(Render(button, size, 0), "0,0=H 0,22=H 0,23=D 59,0=D 1,1=L 58,22=S 4,4=F"),
                 QString());
        // Focused: black outline around the raised frame, dotted rectangle 4 pixels inside.
        QCOMPARE(Pixels(Render(button, size, ODS_FOCUS),
                        "0,0=K 59,12=K 1,1=H 58,22=D 57,21=S 3,3=F 4,4=. 5,4=F 6,4=. 55,19=. 5,5=F"),
                 QString());
        // Pressed: black outline, shadow line, flat face; no focus rectangle without the focus.
        QCOMPARE(Pixels(Render(button, size, ODS_SELECTED), "0,0=K 59,23=K 1,1=S 58,22=S 2,2=F 4,4=F"),
                 QString());
        // Pressed and focused: the sunken frame with the focus rectangle 4 pixels inside its edge.
        QCOMPARE(Pixels(Render(button, size, ODS_SELECTED | ODS_FOCUS), "1,1=S 3,3=F 4,18=. 55,19=. 56,20=F"),
                 QString());
        // A changed face colour is used at once for the frame.
        SetSysColorForTest(COLOR_BTNFACE, QColor(1, 2, 3));
        QCOMPARE(Render(button, size, ODS_SELECTED).pixel(30, 2), qRgb(1, 2, 3));
    }

    // The widget draws itself from its own state: focus, pressed, and disabled without focus.
    void widgetStates() {
        QWidget window;
        auto* button = new CBmpButton(&window);
        new QPushButton(QStringLiteral("other"), &window);
        button->setText(QStringLiteral("caption never drawn"));
        button->setGeometry(10, 10, 60, 24);
        button->SetBitmaps(1, 156);
        window.show();
        QApplication::setActiveWindow(&window);
        button->setFocus();
        QVERIFY(button->hasFocus());
        auto grab = [button] {
            QImage out(button->size(), QImage::Format_RGB32);
            button->render(&out);
            return out;
        };
        QCOMPARE(Pixels(grab(), "0,0=K 4,4=."), QString());
        button->setDown(true);
        QCOMPARE(Pixels(grab(), "1,1=S"), QString());
        button->setDown(false);
        button->setEnabled(false);
        const QImage out = grab();
        QCOMPARE(Pixels(out, "0,0=H 4,4=F 6,4=F"), QString());
        QVERIFY(ShowsImageAt(out, button->m_bmpDisabled, 17, 4, 2));
    }
};

QTEST_MAIN(TestBmpButton)
#include "tst_bmpbutton.moc"
