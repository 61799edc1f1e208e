// The bitmap push button: its caption bitmaps, the generated disabled image, and its faces as drawn.

#include "controls/BmpButton.h"
#include "platform/Bitmaps.h"
#include "platform/SysColors.h"
#include "support/TestEnv.h"

#include <QApplication>
#include <QPainter>
#include <QtTest>

namespace {

const QRgb kGrey = qRgb(192, 192, 192), kBlack = qRgb(0, 0, 0);

// The pixels named "x,y=C ..." with C one of H highlight, L 3D light, S shadow, D 3D dark shadow,
// F face, K black, . a dot of the focus rectangle (the face inverted); returns the misses.
QString Pixels(const QImage& out, const QString& points) {
    const int roles[] = {COLOR_BTNHIGHLIGHT, COLOR_3DLIGHT, COLOR_BTNSHADOW, COLOR_3DDKSHADOW, COLOR_BTNFACE};
    QString missed;
    for (const QString& point : points.split(' ', Qt::SkipEmptyParts)) {
        const QChar c = point.back();
        const QRgb face = GetSysColor(COLOR_BTNFACE).rgb();
        const QRgb expected = c == 'K'   ? kBlack
                              : c == '.' ? face ^ 0xFFFFFF
                                         : GetSysColor(roles[QString("HLSDF").indexOf(c)]).rgb();
        if (out.pixel(point.section(',', 0, 0).toInt(), point.section(',', 1).section('=', 0, 0).toInt()) !=
            expected)
            missed += point + ' ';
    }
    return missed;
}

QImage Render(CBmpButton& button, QSize size, unsigned state) {
    QImage out(size, QImage::Format_RGB32);
    QPainter dc(&out);
    button.DrawItem(dc, QRect(QPoint(0, 0), size), state);
    return out;
}

// Whether `img` shows at (x, y) in `out`, its key colour as the face, clear of frame and focus dots.
bool ShowsImageAt(const QImage& out, const QImage& img, int x, int y) {
    const QRect area = out.rect().adjusted(5, 5, -5, -5) & img.rect().translated(x, y);
    for (int oy = area.top(); oy <= area.bottom(); ++oy)
        for (int ox = area.left(); ox <= area.right(); ++ox) {
            const QRgb c = img.pixel(ox - x, oy - y);
            if (out.pixel(ox, oy) !=
                (c == img.pixel(0, img.height() - 1) ? GetSysColor(COLOR_BTNFACE).rgb() : c))
                return false;
        }
    return !area.isEmpty();
}

} // namespace

class TestBmpButton : public QObject {
    Q_OBJECT
    TestEnv m_env;

private slots:
    void cleanup() { ResetSysColorsForTest(); }

    // Every caption bitmap and both toolbar strips: the size the buttons and bars are laid out
    // for, black lettering on the grey key colour; disabled, the lettering turns highlight.
    void captionBitmaps() {
        for (const QString& row :
             QString("138:32x17 139:65x18 140:65x18 141:111x18 142:64x18 144:15x16 145:17x16 "
                     "146:32x17 189:64x18 153:26x16 154:19x16 155:27x16 156:26x16 157:86x16 "
                     "158:96x16 159:81x16 160:119x16 190:84x16 128:336x18 150:354x18")
                 .split(' ')) {
            const QImage img = LoadBitmapResource(row.section(':', 0, 0).toInt());
            QCOMPARE(QString("%1:%2x%3").arg(row.section(':', 0, 0)).arg(img.width()).arg(img.height()), row);
            QImage disabled;
            CBmpButton::MakeDisabledBitmap(disabled, img);
            QCOMPARE(img.pixel(0, img.height() - 1), kGrey);
            for (int i = 0; i < img.width() * img.height(); ++i) {
                const QRgb c = img.pixel(i % img.width(), i / img.width());
                const QRgb made = disabled.pixel(i % img.width(), i / img.width());
                QVERIFY2(c == kGrey ? made == GetSysColor(COLOR_BTNFACE).rgb()
                                    : c == kBlack && made == GetSysColor(COLOR_BTNHIGHLIGHT).rgb(),
                         qPrintable(row));
            }
        }
    }

    // Pixels of the key colour (the bottom-left one) become the face; of the others, those whose
    // red + green + blue exceeds the truncated average become shadow, the rest highlight.
    void disabledImageRule() {
        QImage src(7, 5, QImage::Format_RGB32), made;
        src.fill(qRgb(10, 20, 30));
        CBmpButton::MakeDisabledBitmap(made, src);
        QCOMPARE(Pixels(made, "6,0=F 0,4=F 3,2=F"), QString());
        src.fill(kGrey);
        src.setPixel(0, 0, qRgb(1, 0, 0)); // sums 1, 2, 2: the average 5 / 3 is 1
        src.setPixel(1, 0, qRgb(0, 2, 0));
        src.setPixel(2, 0, qRgb(1, 0, 1));
        CBmpButton::MakeDisabledBitmap(made, src);
        QCOMPARE(Pixels(made, "0,0=H 1,0=S 2,0=S 3,0=F"), QString());
    }

    // The disabled image is made in the colours of the moment SetBitmaps ran.
    void disabledImageKeepsItsColours() {
        SetSysColorForTest(COLOR_BTNHIGHLIGHT, QColor(255, 0, 0));
        CBmpButton button;
        button.SetBitmaps(1, 156);
        QImage then;
        CBmpButton::MakeDisabledBitmap(then, LoadBitmapResource(156));
        ResetSysColorsForTest();
        QCOMPARE(button.m_bmpDisabled, then);
    }

    // SetBitmaps(1, ids...), drawn at `size` in `state`: the frame's telling pixels, and the image
    // ("id@x,y": a bitmap, or the made disabled one, with its top-left there). Raised: highlight over
    // dark shadow, light over shadow. Focused: a black outline, a dotted rectangle 4 pixels inside.
    // Pressed: black outline, shadow line, flat face, the image a pixel right and down. The image
    // is placed by the normal one's size; halvings truncate toward zero.
    void faces_data() {
        QTest::addColumn<QString>("ids");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<unsigned>("state");
        QTest::addColumn<QString>("image");
        QTest::addColumn<QString>("frame");
        const QSize wide(60, 24);
        QTest::newRow("raised") << "154" << wide << 0u << "154@20,4"
                                << "0,0=H 0,22=H 0,23=D 59,0=D 1,1=L 58,22=S";
        QTest::newRow("focused") << "154" << wide << ODS_FOCUS << "154@20,4"
                                 << "0,0=K 1,1=H 58,22=D 4,4=. 5,4=F 6,4=.";
        QTest::newRow("pressed") << "154" << wide << ODS_SELECTED << "154@21,5"
                                 << "0,0=K 59,23=K 1,1=S 58,22=S 4,4=F";
        QTest::newRow("pressed, focused") << "154" << wide << (ODS_SELECTED | ODS_FOCUS) << ""
                                          << "1,1=S 4,18=. 56,20=F";
        QTest::newRow("disabled") << "154" << wide << ODS_DISABLED << "disabled@20,4"
                                  << "0,0=H 4,4=F";
        QTest::newRow("focus image") << "154,0,144" << wide << ODS_FOCUS << "144@20,4"
                                     << "";
        QTest::newRow("loaded, low 16 bits") << "65692,140,141,142" << wide << ODS_DISABLED << "142@17,4"
                                             << "";
        QTest::newRow("17 high") << "138" << QSize(100, 24) << 0u << "138@34,3"
                                 << "";
        QTest::newRow("18 high, a row up") << "139" << QSize(100, 24) << 0u << "139@17,2"
                                           << "";
        QTest::newRow("18 high, pressed") << "139" << QSize(100, 24) << ODS_SELECTED << "139@18,3"
                                          << "";
        QTest::newRow("lower than 16") << "154" << QSize(41, 12) << 0u << "154@11,-2"
                                       << "";
        QTest::newRow("narrower than the image") << "139" << QSize(20, 24) << 0u << "139@-22,2"
                                                 << "";
        QTest::newRow("no such bitmap") << "143" << QSize(30, 20) << (ODS_SELECTED | ODS_FOCUS) << ""
                                        << "0,0=K 15,10=F";
    }
    void faces() {
        QFETCH(QString, ids);
        QFETCH(QSize, size);
        QFETCH(unsigned, state);
        QFETCH(QString, image);
        QFETCH(QString, frame);
        const QStringList id = ids.split(',');
        CBmpButton button;
        QCOMPARE(button.SetBitmaps(1, id.value(0).toUInt(), id.value(1).toUInt(), id.value(2).toUInt(),
                                   id.value(3).toUInt()),
                 1);
        const QImage out = Render(button, size, state);
        QCOMPARE(Pixels(out, frame), QString());
        const QString name = image.section('@', 0, 0), at = image.section('@', 1);
        const QImage shown = name == "disabled" ? button.m_bmpDisabled : LoadBitmapResource(name.toInt());
        QVERIFY(image.isEmpty() ||
                ShowsImageAt(out, shown, at.section(',', 0, 0).toInt(), at.section(',', 1).toInt()));
    }

    // The widget draws itself from its own state: focused, pressed, and disabled without the focus.
    void widgetStates() {
        QWidget window;
        auto* button = new CBmpButton(&window);
        new QPushButton(QStringLiteral("other"), &window);
        button->setGeometry(10, 10, 60, 24);
        button->SetBitmaps(1, 156);
        window.show();
        QApplication::setActiveWindow(&window);
        button->setFocus();
        QCOMPARE(Pixels(button->grab().toImage(), "0,0=K 4,4=."), QString());
        button->setDown(true);
        QCOMPARE(Pixels(button->grab().toImage(), "1,1=S"), QString());
        button->setDown(false);
        button->setEnabled(false);
        QCOMPARE(Pixels(button->grab().toImage(), "0,0=H 4,4=F"), QString());
        QVERIFY(ShowsImageAt(button->grab().toImage(), button->m_bmpDisabled, 17, 4));
    }
};

QTEST_MAIN(TestBmpButton)
#include "tst_bmpbutton.moc"
