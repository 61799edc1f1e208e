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

const QRgb kGrey = qRgb(192, 192, 192), kBlack = qRgb(0, 0, 0);
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
#define PIXELS(image, points) QCOMPARE(Pixels(image, points), QString())

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
    const QRect area = out.rect().adjusted(frame, frame, -frame, -frame) & img.rect().translated(x, y);
    for (int oy = area.top(); oy <= area.bottom(); ++oy)
        for (int ox = area.left(); ox <= area.right(); ++ox) {
            const QRgb c = img.pixel(ox - x, oy - y);
            if (out.pixel(ox, oy) != (c == key ? Sys(COLOR_BTNFACE) : c))
                return false;
        }
    return !area.isEmpty();
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
        for (const QString& row :
             QString("138:32x17 139:65x18 140:65x18 141:111x18 142:64x18 144:15x16 145:17x16 "
                     "146:32x17 189:64x18 153:26x16 154:19x16 155:27x16 156:26x16 157:86x16 "
                     "158:96x16 159:81x16 160:119x16 190:84x16 128:336x18 150:354x18")
                 .split(' ')) {
            const int id = row.section(':', 0, 0).toInt();
            QFile file(QStringLiteral(":/res/bitmaps/%1.bmp").arg(id));
            const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.read(30) : QByteArray();
            QCOMPARE(bytes.left(2) + bytes.mid(28, 1), QByteArray("BM\x04")); // 4 bits per pixel
            const QImage img = LoadBitmapResource(id);
            QCOMPARE(QString("%1:%2x%3").arg(id).arg(img.width()).arg(img.height()), row);
            QImage disabled;
            CBmpButton::MakeDisabledBitmap(disabled, img);
            int black = 0;
            for (int i = 0; i < img.width() * img.height(); ++i) {
                const QRgb c = img.pixel(i % img.width(), i / img.width());
                black += c == kBlack;
                QVERIFY2((c == kGrey || c == kBlack) &&
                             disabled.pixel(i % img.width(), i / img.width()) ==
                                 Sys(c == kBlack ? COLOR_BTNHIGHLIGHT : COLOR_BTNFACE),
                         qPrintable(row));
            }
            QVERIFY2(black > 0 && img.pixel(0, img.height() - 1) == kGrey, qPrintable(row));
        }
        QVERIFY(LoadBitmapResource(0).isNull() && LoadBitmapResource(-1).isNull() &&
                !AppIcon().pixmap(32, 32).isNull());
    }

    void disabledImageRule() {
        QImage target;
        auto make = [&target](const QImage& src) -> const QImage& {
            CBmpButton::MakeDisabledBitmap(target, src);
            return target;
        };
        // All pixels in the key colour: the whole image becomes the face.
        QImage src(7, 5, QImage::Format_RGB32);
        src.fill(qRgb(10, 20, 30));
        QCOMPARE(make(src).size(), QSize(7, 5));
        PIXELS(target, "6,0=F 0,4=F 3,2=F");
        // Sums 1, 2 and 2: the average 5 / 3 truncates to 1, so 2 lies above it and 1 does not.
        src.fill(kGrey);
        src.setPixel(0, 0, qRgb(1, 0, 0));
        src.setPixel(1, 0, qRgb(0, 2, 0));
        src.setPixel(2, 0, qRgb(1, 0, 1));
        PIXELS(make(src), "0,0=H 1,0=S 2,0=S 3,0=F");
        // The key is the bottom-left pixel, whatever colour it has, even when most pixels differ;
        // the rest, all equal to the average, turn highlight.
        src.fill(qRgb(255, 255, 255));
        src.setPixel(0, 4, kBlack);
        PIXELS(make(src), "0,4=F 2,0=H");
        QVERIFY(make(QImage()).isNull());

        // Made from the colours of the moment SetBitmaps ran: the old face is the image's key, and
        // the button's present face shows through it.
        SetSysColorForTest(COLOR_BTNFACE, QColor(200, 100, 50));
        SetSysColorForTest(COLOR_BTNHIGHLIGHT, QColor(255, 0, 0));
        CBmpButton button;
        QCOMPARE(button.SetBitmaps(1, 156), 1);
        const QImage made = make(LoadBitmapResource(156));
        ResetSysColorsForTest();
        QCOMPARE(button.m_bmpDisabled, made);
        QVERIFY(ShowsImageAt(Render(button, QSize(100, 24), ODS_DISABLED), made, 37, 4, 2));
    }

    void setBitmapsReplaces() {
        CBmpButton button;
        QCOMPARE(button.SetBitmaps(1, 139, 140, 141, 142), 1);
        QCOMPARE(QPair(button.m_bmpPressed.size(), button.m_bmpFocus.size()),
                 QPair(QSize(65, 18), QSize(111, 18)));
        QCOMPARE(button.m_bmpDisabled, LoadBitmapResource(142)); // loaded, not made

        // Only the low 16 bits of an id count; the earlier images are let go.
        QCOMPARE(button.SetBitmaps(1, 0x10000 | 156), 1);
        QCOMPARE(QPair(button.m_bmpNormal, button.m_bmpDisabled.size()),
                 QPair(LoadBitmapResource(156), QSize(26, 16)));
        QVERIFY(button.m_bmpPressed.isNull() && button.m_bmpFocus.isNull() && button.m_nHeight == 16);

        // A focus image is drawn in place of the normal one while the button has the focus.
        button.SetBitmaps(1, 154, 0, 144); // 19 x 16 and 15 x 16
        QVERIFY(ShowsImageAt(Render(button, QSize(100, 24), ODS_FOCUS), LoadBitmapResource(144), 40, 4, 5));

        // An id that names no bitmap leaves the button empty; it still draws its frame.
        QCOMPARE(button.SetBitmaps(1, 143), 1);
        QVERIFY(button.m_bmpNormal.isNull() && button.m_bmpDisabled.isNull() && button.m_nWidth == 0);
        PIXELS(Render(button, QSize(30, 20), ODS_SELECTED | ODS_FOCUS), "0,0=K 15,10=F");
    }

    // The frame of each state in a 60 x 24 button, at its telling pixels: raised, highlight over
    // dark shadow, light over shadow; focused, a black outline around it and a dotted rectangle 4
    // pixels inside; pressed, black outline, shadow line and flat face, no focus rectangle without
    // the focus; pressed and focused, the focus rectangle 4 pixels inside the sunken edge.
    void framesAndImagePosition() {
        CBmpButton button;
        button.SetBitmaps(1, 154);
        for (const auto& [state, points] :
             {std::pair(0u, "0,0=H 0,22=H 0,23=D 59,0=D 1,1=L 58,22=S 4,4=F"),
              {ODS_FOCUS, "0,0=K 59,12=K 1,1=H 58,22=D 57,21=S 3,3=F 4,4=. 5,4=F 6,4=. 55,19=. 5,5=F"},
              {ODS_SELECTED, "0,0=K 59,23=K 1,1=S 58,22=S 2,2=F 4,4=F"},
              {ODS_SELECTED | ODS_FOCUS, "1,1=S 3,3=F 4,18=. 55,19=. 56,20=F"}})
            PIXELS(Render(button, QSize(60, 24), state), points);
        // A changed face colour is used at once for the frame.
        SetSysColorForTest(COLOR_BTNFACE, QColor(1, 2, 3));
        QCOMPARE(Render(button, QSize(60, 24), ODS_SELECTED).pixel(30, 2), qRgb(1, 2, 3));
        ResetSysColorsForTest();

        // Image id, button size, state, where the image's top-left lands. Halvings truncate toward
        // zero: (12 - 16) / 2 = -2, (20 - 65) / 2 = -22, clipped.
        const std::tuple<int, QSize, unsigned, QPoint> rows[] = {
            {156, {100, 24}, 0u, {37, 4}},           {156, {100, 24}, ODS_SELECTED, {38, 5}},
            {138, {100, 24}, 0u, {34, 3}},           {139, {100, 24}, 0u, {17, 2}}, // 18 high: a row higher
            {139, {100, 24}, ODS_SELECTED, {18, 3}}, {154, {41, 12}, 0u, {11, -2}}, // lower than 16
            {139, {20, 24}, 0u, {-22, 2}},                                          // narrower than the image
        };
        for (const auto& [id, size, state, at] : rows) {
            button.SetBitmaps(1, id);
            QVERIFY2(ShowsImageAt(Render(button, size, state), LoadBitmapResource(id), at.x(), at.y(), 2),
                     qPrintable(QString("%1 at %2,%3").arg(id).arg(at.x()).arg(at.y())));
        }
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
        auto grab = [button] { return button->grab().toImage(); };
        PIXELS(grab(), "0,0=K 4,4=.");
        button->setDown(true);
        PIXELS(grab(), "1,1=S");
        button->setDown(false);
        button->setEnabled(false);
        PIXELS(grab(), "0,0=H 4,4=F 6,4=F");
        QVERIFY(ShowsImageAt(grab(), button->m_bmpDisabled, 17, 4, 2));
    }
};

QTEST_MAIN(TestBmpButton)
#include "tst_bmpbutton.moc"
