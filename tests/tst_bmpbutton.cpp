#include "controls/BmpButton.h"
#include "platform/Bitmaps.h"
#include "platform/SysColors.h"
#include "support/TestEnv.h"

#include <QApplication>
#include <QFile>
#include <QPainter>
#include <QtEndian>
#include <QtTest>
#include <memory>

namespace {

const QRgb kGrey = qRgb(192, 192, 192);
const QRgb kBlack = qRgb(0, 0, 0);

struct Resource {
    int id;
    int width;
    int height;
};

// Every caption bitmap and both toolbar strips, with the size the buttons and bars are laid out for.
const Resource kResources[] = {
    {138, 32, 17}, {139, 65, 18},  {140, 65, 18}, {141, 111, 18}, {142, 64, 18},
    {144, 15, 16}, {145, 17, 16},  {146, 32, 17}, {189, 64, 18},  {153, 26, 16},
    {154, 19, 16}, {155, 27, 16},  {156, 26, 16}, {157, 86, 16},  {158, 96, 16},
    {159, 81, 16}, {160, 119, 16}, {190, 84, 16}, {128, 336, 18}, {150, 354, 18},
};

QRgb Sys(int index) {
    return GetSysColor(index).rgb();
}

QRgb Inverted(QRgb c) {
    return qRgb(255 - qRed(c), 255 - qGreen(c), 255 - qBlue(c));
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
            const QRgb expected = img.pixel(i, j) == key ? Sys(COLOR_BTNFACE) : img.pixel(i, j);
            if (out.pixel(ox, oy) != expected)
                return false;
            ++compared;
        }
    }
    return compared > 0;
}

QImage SolidImage(int w, int h, QRgb colour) {
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(colour);
    return img;
}

} // namespace

class TestBmpButton : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { m_env = std::make_unique<TestEnv>(); }
    void cleanup() { ResetSysColorsForTest(); }

    void resourceBitmaps();
    void disabledImageRule();
    void disabledCaptions();
    void disabledKeepsColoursOfSetBitmaps();
    void imagePosition();
    void narrowButtonClipsImage();
    void setBitmapsReplaces();
    void frames();
    void widgetStates();

private:
    std::unique_ptr<TestEnv> m_env;
};

void TestBmpButton::resourceBitmaps() {
    for (const Resource& r : kResources) {
        QFile file(QStringLiteral(":/res/bitmaps/%1.bmp").arg(r.id));
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
        const QByteArray bytes = file.readAll();
        QVERIFY(bytes.size() > 54);
        QCOMPARE(bytes.left(2), QByteArray("BM"));
        const uchar* header = reinterpret_cast<const uchar*>(bytes.constData()) + 14;
        QCOMPARE(qFromLittleEndian<qint32>(header + 4), r.width);
        QCOMPARE(qFromLittleEndian<qint32>(header + 8), r.height);
        QCOMPARE(qFromLittleEndian<quint16>(header + 14), quint16(4));

        const QImage img = LoadBitmapResource(r.id);
        QCOMPARE(img.size(), QSize(r.width, r.height));
        QCOMPARE(img.pixel(0, r.height - 1), kGrey);
        int black = 0;
        for (int y = 0; y < img.height(); ++y) {
            for (int x = 0; x < img.width(); ++x) {
                const QRgb c = img.pixel(x, y);
                QVERIFY2(c == kGrey || c == kBlack, qPrintable(QString::number(r.id)));
                black += c == kBlack;
            }
        }
        QVERIFY2(black > 0, qPrintable(QString::number(r.id)));
        // Only the low 16 bits of an id name the resource.
        QCOMPARE(LoadBitmapResource(r.id | 0x30000), img);
    }
    QVERIFY(LoadBitmapResource(0).isNull());
    QVERIFY(LoadBitmapResource(143).isNull());
    QVERIFY(LoadBitmapResource(-1).isNull());
    QVERIFY(!AppIcon().isNull());
    QVERIFY(!AppIcon().pixmap(32, 32).isNull());
}

void TestBmpButton::disabledImageRule() {
    // All pixels in the key colour: the whole image becomes the face.
    QImage target;
    CBmpButton::MakeDisabledBitmap(target, SolidImage(7, 5, qRgb(10, 20, 30)));
    QCOMPARE(target.size(), QSize(7, 5));
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x)
            QCOMPARE(target.pixel(x, y), Sys(COLOR_BTNFACE));

    // Sums 1, 2 and 2: the average 5 / 3 truncates to 1, so 2 lies above it and 1 does not.
    QImage src = SolidImage(4, 2, kGrey);
    src.setPixel(0, 0, qRgb(1, 0, 0));
    src.setPixel(1, 0, qRgb(0, 2, 0));
    src.setPixel(2, 0, qRgb(1, 0, 1));
    CBmpButton::MakeDisabledBitmap(target, src);
    QCOMPARE(target.pixel(0, 0), Sys(COLOR_BTNHIGHLIGHT));
    QCOMPARE(target.pixel(1, 0), Sys(COLOR_BTNSHADOW));
    QCOMPARE(target.pixel(2, 0), Sys(COLOR_BTNSHADOW));
    QCOMPARE(target.pixel(3, 0), Sys(COLOR_BTNFACE));
    QCOMPARE(target.pixel(0, 1), Sys(COLOR_BTNFACE));

    // The key is the bottom-left pixel, whatever colour it has, even when most pixels differ.
    src = SolidImage(3, 2, qRgb(255, 255, 255));
    src.setPixel(0, 1, kBlack);
    CBmpButton::MakeDisabledBitmap(target, src);
    QCOMPARE(target.pixel(0, 1), Sys(COLOR_BTNFACE));
    QCOMPARE(target.pixel(2, 0), Sys(COLOR_BTNHIGHLIGHT)); // all equal to the average

    CBmpButton::MakeDisabledBitmap(target, QImage());
    QVERIFY(target.isNull());
}

void TestBmpButton::disabledCaptions() {
    for (const Resource& r : kResources) {
        const QImage src = LoadBitmapResource(r.id);
        QImage target;
        CBmpButton::MakeDisabledBitmap(target, src);
        QCOMPARE(target.size(), src.size());
        for (int y = 0; y < src.height(); ++y)
            for (int x = 0; x < src.width(); ++x)
                QCOMPARE(target.pixel(x, y),
                         src.pixel(x, y) == kBlack ? Sys(COLOR_BTNHIGHLIGHT) : Sys(COLOR_BTNFACE));
    }
}

void TestBmpButton::disabledKeepsColoursOfSetBitmaps() {
    const QColor face(200, 100, 50);
    const QColor highlight(255, 0, 0);
    SetSysColorForTest(COLOR_BTNFACE, face);
    SetSysColorForTest(COLOR_BTNHIGHLIGHT, highlight);
    CBmpButton button;
    QCOMPARE(button.SetBitmaps(1, 156), 1);
    ResetSysColorsForTest();

    const QImage normal = LoadBitmapResource(156);
    QCOMPARE(button.m_bmpDisabled.pixel(0, 15), face.rgb());
    const QImage out = Render(button, QSize(100, 24), ODS_DISABLED);
    bool sawLettering = false;
    for (int j = 0; j < 16; ++j) {
        for (int i = 0; i < 26; ++i) {
            const QRgb got = out.pixel(37 + i, 4 + j);
            if (normal.pixel(i, j) == kBlack) {
                QCOMPARE(got, highlight.rgb());
                sawLettering = true;
            } else {
                // The old face is the image's key: the button's present face shows through.
                QCOMPARE(got, Sys(COLOR_BTNFACE));
            }
        }
    }
    QVERIFY(sawLettering);
}

void TestBmpButton::imagePosition() {
    CBmpButton button;
    const QSize size(100, 24);

    button.SetBitmaps(1, 156); // 26 x 16
    const QImage exit = LoadBitmapResource(156);
    QVERIFY(ShowsImageAt(Render(button, size, 0), exit, 37, 4, 2));
    QVERIFY(!ShowsImageAt(Render(button, size, 0), exit, 37, 5, 2));
    QVERIFY(ShowsImageAt(Render(button, size, ODS_SELECTED), exit, 38, 5, 2));

    button.SetBitmaps(1, 139); // 65 x 18: one row higher than centred
    const QImage clear = LoadBitmapResource(139);
    QVERIFY(ShowsImageAt(Render(button, size, 0), clear, 17, 2, 2));
    QVERIFY(ShowsImageAt(Render(button, size, ODS_SELECTED), clear, 18, 3, 2));

    button.SetBitmaps(1, 138); // 32 x 17: (24 - 17) / 2 = 3, no correction
    QVERIFY(ShowsImageAt(Render(button, size, 0), LoadBitmapResource(138), 34, 3, 2));

    // A button lower than 16 pixels: the halving truncates toward zero, (12 - 16) / 2 = -2.
    button.SetBitmaps(1, 154); // 19 x 16
    QVERIFY(ShowsImageAt(Render(button, QSize(41, 12), 0), LoadBitmapResource(154), 11, -2, 2));
}

void TestBmpButton::narrowButtonClipsImage() {
    CBmpButton button;
    button.SetBitmaps(1, 139); // 65 wide in a button 20 wide: x = -45 / 2 = -22
    const QImage out = Render(button, QSize(20, 24), 0);
    QVERIFY(ShowsImageAt(out, LoadBitmapResource(139), -22, 2, 2));
    QCOMPARE(out.pixel(0, 0), Sys(COLOR_BTNHIGHLIGHT));
    QCOMPARE(out.pixel(19, 23), Sys(COLOR_3DDKSHADOW));
}

void TestBmpButton::setBitmapsReplaces() {
    CBmpButton button;
    QCOMPARE(button.m_bCenter, 1);
    QCOMPARE(button.m_nWidth, 0);
    QVERIFY(button.m_bmpNormal.isNull() && button.m_bmpDisabled.isNull());

    QCOMPARE(button.SetBitmaps(1, 139, 140, 141, 142), 1);
    QCOMPARE(button.m_bmpPressed.size(), QSize(65, 18));
    QCOMPARE(button.m_bmpFocus.size(), QSize(111, 18));
    QCOMPARE(button.m_bmpDisabled, LoadBitmapResource(142)); // loaded, not made

    QCOMPARE(button.SetBitmaps(1, 0x10000 | 156), 1);
    QCOMPARE(button.m_nWidth, 26);
    QCOMPARE(button.m_nHeight, 16);
    QCOMPARE(button.m_bmpNormal, LoadBitmapResource(156));
    QVERIFY(button.m_bmpPressed.isNull());
    QVERIFY(button.m_bmpFocus.isNull());
    QCOMPARE(button.m_bmpDisabled.size(), QSize(26, 16));
    QCOMPARE(button.m_bmpDisabled.pixel(0, 15), Sys(COLOR_BTNFACE));

    // A focus image is drawn in place of the normal one while the button has the focus.
    button.SetBitmaps(1, 154, 0, 144); // 19 x 16 and 15 x 16
    QVERIFY(ShowsImageAt(Render(button, QSize(100, 24), ODS_FOCUS), LoadBitmapResource(144), 40, 4, 5));

    // An id that names no bitmap leaves the button empty; it still draws its frame.
    QCOMPARE(button.SetBitmaps(0, 143), 1);
    QVERIFY(button.m_bmpNormal.isNull() && button.m_bmpDisabled.isNull());
    QCOMPARE(button.m_nWidth, 0);
    QCOMPARE(button.m_bCenter, 0);
    const QImage out = Render(button, QSize(30, 20), ODS_SELECTED | ODS_FOCUS);
    QCOMPARE(out.pixel(0, 0), kBlack);
    QCOMPARE(out.pixel(15, 10), Sys(COLOR_BTNFACE));
}

void TestBmpButton::frames() {
    CBmpButton button;
    button.SetBitmaps(1, 154);
    const QSize size(60, 24);
    const QRgb face = Sys(COLOR_BTNFACE);
    const QRgb focusDot = Inverted(face);

    // Raised: highlight over dark shadow, light over shadow, no focus rectangle.
    QImage out = Render(button, size, 0);
    QCOMPARE(out.pixel(0, 0), Sys(COLOR_BTNHIGHLIGHT));
    QCOMPARE(out.pixel(0, 22), Sys(COLOR_BTNHIGHLIGHT));
    QCOMPARE(out.pixel(0, 23), Sys(COLOR_3DDKSHADOW));
    QCOMPARE(out.pixel(59, 0), Sys(COLOR_3DDKSHADOW));
    QCOMPARE(out.pixel(59, 23), Sys(COLOR_3DDKSHADOW));
    QCOMPARE(out.pixel(1, 1), Sys(COLOR_3DLIGHT));
    QCOMPARE(out.pixel(58, 22), Sys(COLOR_BTNSHADOW));
    QCOMPARE(out.pixel(4, 4), face);
    QCOMPARE(out.pixel(2, 12), face);

    // Focused: black outline around the raised frame, dotted rectangle 4 pixels inside.
    out = Render(button, size, ODS_FOCUS);
    QCOMPARE(out.pixel(0, 0), kBlack);
    QCOMPARE(out.pixel(59, 12), kBlack);
    QCOMPARE(out.pixel(1, 1), Sys(COLOR_BTNHIGHLIGHT));
    QCOMPARE(out.pixel(58, 22), Sys(COLOR_3DDKSHADOW));
    QCOMPARE(out.pixel(57, 21), Sys(COLOR_BTNSHADOW));
    QCOMPARE(out.pixel(4, 4), focusDot);
    QCOMPARE(out.pixel(5, 4), face);
    QCOMPARE(out.pixel(6, 4), focusDot);
    QCOMPARE(out.pixel(55, 19), focusDot);
    QCOMPARE(out.pixel(3, 3), face);
    QCOMPARE(out.pixel(5, 5), face);

    // Pressed: black outline, shadow line, flat face; no focus rectangle without the focus.
    out = Render(button, size, ODS_SELECTED);
    QCOMPARE(out.pixel(0, 0), kBlack);
    QCOMPARE(out.pixel(59, 23), kBlack);
    QCOMPARE(out.pixel(1, 1), Sys(COLOR_BTNSHADOW));
    QCOMPARE(out.pixel(58, 22), Sys(COLOR_BTNSHADOW));
    QCOMPARE(out.pixel(2, 2), face);
    QCOMPARE(out.pixel(57, 21), face);
    QCOMPARE(out.pixel(4, 4), face);

    // Pressed and focused: the sunken frame with the focus rectangle 4 pixels inside its edge.
    out = Render(button, size, ODS_SELECTED | ODS_FOCUS);
    QCOMPARE(out.pixel(0, 0), kBlack);
    QCOMPARE(out.pixel(1, 1), Sys(COLOR_BTNSHADOW));
    QCOMPARE(out.pixel(3, 3), face);
    QCOMPARE(out.pixel(4, 4), focusDot);
    QCOMPARE(out.pixel(4, 18), focusDot);
    QCOMPARE(out.pixel(55, 19), focusDot);
    QCOMPARE(out.pixel(56, 20), face);
    QVERIFY(ShowsImageAt(out, LoadBitmapResource(154), 21, 5, 5));

    // A changed face colour is used at once for the frame.
    SetSysColorForTest(COLOR_BTNFACE, QColor(1, 2, 3));
    out = Render(button, size, ODS_SELECTED);
    QCOMPARE(out.pixel(30, 2), qRgb(1, 2, 3));
}

void TestBmpButton::widgetStates() {
    QWidget window;
    window.resize(200, 100);
    auto* button = new CBmpButton(&window);
    auto* other = new QPushButton(QStringLiteral("other"), &window);
    button->setText(QStringLiteral("caption never drawn"));
    button->setGeometry(10, 10, 60, 24);
    other->setGeometry(100, 10, 60, 24);
    button->SetBitmaps(1, 156);
    window.show();
    QApplication::setActiveWindow(&window);
    button->setFocus();

    auto grab = [button]() {
        QImage out(button->size(), QImage::Format_RGB32);
        out.fill(qRgb(255, 0, 255));
        button->render(&out);
        return out;
    };
    const QRgb face = Sys(COLOR_BTNFACE);
    const QImage exit = LoadBitmapResource(156);

    QVERIFY(button->hasFocus());
    QImage out = grab();
    QCOMPARE(out.pixel(0, 0), kBlack);
    QCOMPARE(out.pixel(4, 4), Inverted(face));
    QVERIFY(ShowsImageAt(out, exit, 17, 4, 5));

    button->setDown(true);
    out = grab();
    QCOMPARE(out.pixel(1, 1), Sys(COLOR_BTNSHADOW));
    QVERIFY(ShowsImageAt(out, exit, 18, 5, 5));
    button->setDown(false);

    // Disabled: the raised frame, the made image, and never the focus rectangle.
    button->setEnabled(false);
    out = grab();
    QCOMPARE(out.pixel(0, 0), Sys(COLOR_BTNHIGHLIGHT));
    QCOMPARE(out.pixel(4, 4), face);
    QCOMPARE(out.pixel(6, 4), face);
    QVERIFY(ShowsImageAt(out, button->m_bmpDisabled, 17, 4, 2));
    QVERIFY(!ShowsImageAt(out, exit, 17, 4, 2));
}

QTEST_MAIN(TestBmpButton)
#include "tst_bmpbutton.moc"
