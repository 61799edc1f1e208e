// The bitmap push button: the made disabled image, the transparent key colour, and its faces as the
// widget draws them in each state.

#include "controls/BmpButton.h"
#include "platform/Bitmaps.h"
#include "platform/SysColors.h"
#include "support/TestEnv.h"

#include <QApplication>
#include <QPainter>
#include <QtTest>

namespace {

// The pixels "x,y=C ..." of `out` that do not show C: H highlight, S shadow, D dark shadow, F face
// (the 3D light too), K black, . a dot of the focus rectangle (the face inverted).
QString Misses(const QImage& out, const QString& points) {
    const QRgb face = GetSysColor(COLOR_BTNFACE).rgb();
    const QRgb colours[] = {GetSysColor(COLOR_BTNHIGHLIGHT).rgb(),
                            GetSysColor(COLOR_BTNSHADOW).rgb(),
                            GetSysColor(COLOR_3DDKSHADOW).rgb(),
                            face,
                            qRgb(0, 0, 0),
                            face ^ 0xFFFFFF};
    QString missed;
    for (const QString& point : points.split(' '))
        if (out.pixel(point.section(',', 0, 0).toInt(), point.section(',', 1).chopped(2).toInt()) !=
            colours[QString("HSDFK.").indexOf(point.back())])
            missed += point + ' ';
    return missed;
}

// Whether `img` shows with its top-left at `at` in `out`, its key colour as the face, clear of the
// frame and the focus dots.
bool ShowsImageAt(const QImage& out, const QImage& img, QPoint at) {
    const QRect area = out.rect().adjusted(5, 5, -5, -5) & img.rect().translated(at);
    const QRgb key = img.pixel(0, img.height() - 1);
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb c = img.pixel(x - at.x(), y - at.y());
            if (out.pixel(x, y) != (c == key ? GetSysColor(COLOR_BTNFACE).rgb() : c))
                return false;
        }
    return !area.isEmpty();
}

} // namespace

class TestBmpButton : public QObject {
    Q_OBJECT
    TestEnv m_env;

private slots:
    // Pixels of the key colour (the bottom-left one) become the face; of the others, those whose
    // red + green + blue exceeds the truncated average become shadow, the rest highlight. An image
    // all of the key colour becomes all face.
    void disabledImageIsTwoTone() {
        QImage src(7, 5, QImage::Format_RGB32), made;
        src.fill(qRgb(10, 20, 30));
        CBmpButton::MakeDisabledBitmap(made, src);
        QCOMPARE(Misses(made, "6,0=F 0,4=F 3,2=F"), QString());
        src.fill(qRgb(192, 192, 192));
        src.setPixel(0, 0, qRgb(1, 0, 0)); // sums 1, 2, 2: the average 5 / 3 is 1
        src.setPixel(1, 0, qRgb(0, 2, 0));
        src.setPixel(2, 0, qRgb(1, 0, 1));
        CBmpButton::MakeDisabledBitmap(made, src);
        QCOMPARE(Misses(made, "0,0=H 1,0=S 2,0=S 3,0=F"), QString());
    }

    // Drawn transparently, the pixels of the image's bottom-left colour leave the target as it was.
    void transparentWhereTheBottomLeftColourIs() {
        QImage bmp(1, 2, QImage::Format_RGB32), out(1, 2, QImage::Format_RGB32);
        bmp.setPixel(0, 0, qRgb(255, 0, 0));
        bmp.setPixel(0, 1, qRgb(0, 0, 255));
        out.fill(Qt::white);
        QPainter dc(&out);
        CBmpButton::DrawTransparent(dc, 0, 0, bmp, 1, 0);
        QCOMPARE(out.pixel(0, 0), qRgb(255, 0, 0));
        QCOMPARE(out.pixel(0, 1), qRgb(255, 255, 255));
    }

    // A 60 x 24 button given SetBitmaps(1, id), as it draws itself in a state: its frame's telling
    // pixels and where its image lands (the made one when disabled). Raised: highlight over dark
    // shadow, light over shadow. Focused: a black outline, a dotted rectangle 4 pixels inside.
    // Pressed: black outline, shadow line, flat face, the image a pixel right and down. The image
    // is centred by halvings that truncate toward zero, one 18 high a row up; a wider one is clipped.
    void faces_data() {
        QTest::addColumn<unsigned>("state");
        QTest::addColumn<int>("id");
        QTest::addColumn<QPoint>("image");
        QTest::addColumn<QString>("frame");
        QTest::newRow("raised, 64 x 18") << 0u << 142 << QPoint(-2, 2) << "0,0=H 0,23=D 59,0=D 1,1=F 58,22=S";
        QTest::newRow("focused") << ODS_FOCUS << 154 << QPoint(20, 4)
                                 << "0,0=K 1,1=H 58,22=D 4,4=. 5,4=F 6,4=.";
        QTest::newRow("pressed") << ODS_SELECTED << 154 << QPoint(21, 5)
                                 << "0,0=K 59,23=K 1,1=S 58,22=S 4,4=F";
        QTest::newRow("disabled") << ODS_DISABLED << 154 << QPoint(20, 4) << "0,0=H 4,4=F";
    }
    void faces() {
        QFETCH(unsigned, state);
        QFETCH(int, id);
        QFETCH(QPoint, image);
        QFETCH(QString, frame);
        QWidget window;
        new QPushButton(&window); // holds the focus unless the button takes it
        auto* button = new CBmpButton(&window);
        button->setGeometry(0, 0, 60, 24);
        button->SetBitmaps(1, id);
        window.show();
        QApplication::setActiveWindow(&window);
        if (state & ODS_FOCUS)
            button->setFocus();
        button->setDown(state & ODS_SELECTED);
        button->setEnabled(!(state & ODS_DISABLED));
        const QImage out = button->grab().toImage();
        QCOMPARE(Misses(out, frame), QString());
        QVERIFY(
            ShowsImageAt(out, state & ODS_DISABLED ? button->m_bmpDisabled : LoadBitmapResource(id), image));
    }
};

QTEST_MAIN(TestBmpButton)
#include "tst_bmpbutton.moc"
