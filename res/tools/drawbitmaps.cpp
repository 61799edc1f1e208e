// Draws the caption bitmaps of the action buttons, the two toolbar strips and the application icon
// into a folder (normally res/bitmaps), so the pictures can be drawn again after a change of font
// or wording:
//
//     lmx207-drawbitmaps <output folder>
//
// Every bitmap is a 4-bit BMP with black lettering on the light grey RGB(192, 192, 192) that the
// button and the toolbar treat as transparent; the text is drawn without anti-aliasing, so only
// pure black and the grey occur. Chinese captions use WenQuanYi Micro Hei, English ones DejaVu Sans.

#include <QColor>
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QString>
#include <QVector>
#include <algorithm>
#include <cstdio>

namespace {

const QRgb kGrey = qRgb(192, 192, 192);
const QRgb kBlack = qRgb(0, 0, 0);

// The sixteen colours of the classic 4-bit palette; black is index 0 and the key grey index 7.
QVector<QRgb> ClassicPalette() {
    return {qRgb(0, 0, 0),       qRgb(128, 0, 0),   qRgb(0, 128, 0),   qRgb(128, 128, 0),
            qRgb(0, 0, 128),     qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(192, 192, 192),
            qRgb(128, 128, 128), qRgb(255, 0, 0),   qRgb(0, 255, 0),   qRgb(255, 255, 0),
            qRgb(0, 0, 255),     qRgb(255, 0, 255), qRgb(0, 255, 255), qRgb(255, 255, 255)};
}

struct Caption {
    int id;
    QString text;
    int width;
    int height;
    bool chinese;
};

QFont CaptionFont(bool chinese, int pixelSize) {
    QFont font(chinese ? QStringLiteral("WenQuanYi Micro Hei") : QStringLiteral("DejaVu Sans"));
    font.setPixelSize(pixelSize);
    font.setStyleStrategy(QFont::StyleStrategy(QFont::NoAntialias | QFont::NoSubpixelAntialias));
    font.setHintingPreference(QFont::PreferFullHinting);
    return font;
}

// Renders `text` in black on a large white canvas and returns the canvas cut to the ink.
QImage RenderInk(const QString& text, const QFont& font) {
    QImage canvas(400, 80, QImage::Format_RGB32);
    canvas.fill(Qt::white);
    {
        QPainter p(&canvas);
        p.setRenderHint(QPainter::Antialiasing, false);
        p.setRenderHint(QPainter::TextAntialiasing, false);
        p.setFont(font);
        p.setPen(Qt::black);
        p.drawText(10, 50, text);
    }
    int left = canvas.width(), right = -1, top = canvas.height(), bottom = -1;
    for (int y = 0; y < canvas.height(); ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(canvas.constScanLine(y));
        for (int x = 0; x < canvas.width(); ++x) {
            if (qGray(line[x]) < 128) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    if (right < 0)
        return {};
    return canvas.copy(left, top, right - left + 1, bottom - top + 1);
}

// Places the ink of `text` in the middle of a grey picture of w x h, with the largest pixel size
// (not above `maxPixelSize`) whose ink leaves at least one pixel of grey on every side.
void DrawCaption(QImage& target, int x0, int w, int h, const QString& text, bool chinese, int maxPixelSize) {
    QImage ink;
    for (int size = maxPixelSize; size >= 6; --size) {
        ink = RenderInk(text, CaptionFont(chinese, size));
        if (!ink.isNull() && ink.width() <= w - 2 && ink.height() <= h - 2)
            break;
    }
    const int left = x0 + (w - ink.width()) / 2;
    const int top = (h - ink.height()) / 2;
    for (int y = 0; y < ink.height(); ++y)
        for (int x = 0; x < ink.width(); ++x)
            if (qGray(ink.pixel(x, y)) < 128)
                target.setPixel(left + x, top + y, kBlack);
}

// Saves a black-on-grey RGB picture as a 4-bit BMP: an 8-bit indexed image with sixteen colours
// is written with four bits per pixel.
bool SaveBmp4(const QImage& rgb, const QString& path) {
    QImage indexed(rgb.size(), QImage::Format_Indexed8);
    const QVector<QRgb> palette = ClassicPalette();
    indexed.setColorTable(palette);
    for (int y = 0; y < rgb.height(); ++y)
        for (int x = 0; x < rgb.width(); ++x)
            indexed.setPixel(x, y, rgb.pixel(x, y) == kBlack ? 0 : 7);
    if (!indexed.save(path, "BMP")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

QImage GreyPicture(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(kGrey);
    return image;
}

bool DrawStrip(const QString& folder, int id, int pictureWidth, const QStringList& labels, bool chinese) {
    const int h = 18;
    QImage strip = GreyPicture(pictureWidth * int(labels.size()), h);
    for (int i = 0; i < labels.size(); ++i)
        DrawCaption(strip, i * pictureWidth, pictureWidth, h, labels[i], chinese, 13);
    return SaveBmp4(strip, folder + QStringLiteral("/%1.bmp").arg(id));
}

// Two unit boxes joined by the fibre pair, with the model number underneath.
QImage DrawIcon(int size) {
    QImage icon(size, size, QImage::Format_ARGB32);
    icon.fill(Qt::transparent);
    QPainter p(&icon);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.scale(size / 48.0, size / 48.0);

    const QColor body(20, 70, 120);
    const QColor front(60, 130, 190);
    const QColor fibre(255, 200, 0);
    for (int x : {2, 32}) {
        p.setPen(QPen(Qt::black, 1.5));
        p.setBrush(body);
        p.drawRoundedRect(QRectF(x, 6, 14, 20), 2, 2);
        p.setPen(Qt::NoPen);
        p.setBrush(front);
        p.drawRect(QRectF(x + 3, 9, 8, 4));
        p.setBrush(QColor(80, 220, 80));
        p.drawEllipse(QPointF(x + 7, 20), 2, 2);
    }
    p.setPen(QPen(fibre, 2.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(16, 13), QPointF(32, 13));
    p.drawLine(QPointF(16, 19), QPointF(32, 19));

    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(17);
    font.setBold(true);
    QPainterPath text;
    text.addText(0, 0, font, QStringLiteral("207"));
    const QRectF bounds = text.boundingRect();
    text.translate(24 - bounds.center().x(), 46 - bounds.bottom());
    p.setPen(QPen(Qt::white, 2.0));
    p.setBrush(Qt::NoBrush);
    p.drawPath(text);
    p.setPen(Qt::NoPen);
    p.setBrush(body);
    p.drawPath(text);
    return icon;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }

    const QVector<Caption> captions = {
        {138, QStringLiteral("退出"), 32, 17, true},
        {139, QStringLiteral("清除记录"), 65, 18, true},
        {140, QStringLiteral("刷新记录"), 65, 18, true},
        {141, QStringLiteral("写入日期和时间"), 111, 18, true},
        {142, QStringLiteral("写入配置"), 64, 18, true},
        {144, QStringLiteral("否"), 15, 16, true},
        {145, QStringLiteral("是"), 17, 16, true},
        {146, QStringLiteral("确定"), 32, 17, true},
        {189, QStringLiteral("配置复位"), 64, 18, true},
        {153, QStringLiteral("OK"), 26, 16, false},
        {154, QStringLiteral("NO"), 19, 16, false},
        {155, QStringLiteral("Yes"), 27, 16, false},
        {156, QStringLiteral("Exit"), 26, 16, false},
        {157, QStringLiteral("Clear Record"), 86, 16, false},
        {158, QStringLiteral("Update Record"), 96, 16, false},
        {159, QStringLiteral("Write Config"), 81, 16, false},
        {160, QStringLiteral("Write Date & Time"), 119, 16, false},
        {190, QStringLiteral("Reset Config"), 84, 16, false},
    };

    bool ok = true;
    for (const Caption& c : captions) {
        QImage picture = GreyPicture(c.width, c.height);
        DrawCaption(picture, 0, c.width, c.height, c.text, c.chinese, c.chinese ? 14 : 13);
        ok = SaveBmp4(picture, folder + QStringLiteral("/%1.bmp").arg(c.id)) && ok;
    }

    ok = DrawStrip(folder, 128, 56,
                   {QStringLiteral("本地配置"), QStringLiteral("对端配置"), QStringLiteral("本地记录"),
                    QStringLiteral("对端记录"), QStringLiteral("串口1"), QStringLiteral("串口2")},
                   true) &&
         ok;
    ok = DrawStrip(folder, 150, 59,
                   {QStringLiteral("L Config"), QStringLiteral("R Config"), QStringLiteral("L Record"),
                    QStringLiteral("R Record"), QStringLiteral("COM1"), QStringLiteral("COM2")},
                   false) &&
         ok;

    const QString iconPath = folder + QStringLiteral("/icon128.png");
    if (!DrawIcon(48).save(iconPath, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(iconPath));
        ok = false;
    }
    return ok ? 0 : 1;
}
