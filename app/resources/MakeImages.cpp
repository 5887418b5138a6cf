// MakeImages: draws the program's pictures (tool bar images, dialog pictures,
// the about-box picture and the window icon) into this folder.
//
// Not part of the build; run by hand after changing a drawing:
//   g++ -std=c++20 -fPIC MakeImages.cpp $(pkg-config --cflags --libs Qt6Gui) -o /tmp/make-images
//   QT_QPA_PLATFORM=offscreen /tmp/make-images app/resources
#include <QColor>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QString>
#include <cmath>

namespace {

QImage Canvas(int w, int h) {
  QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  return image;
}

// A gear: the options action.
QImage Gear(int size) {
  QImage image = Canvas(size, size);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.translate(size / 2.0, size / 2.0);
  p.setPen(QPen(QColor(40, 60, 90), 1));
  p.setBrush(QColor(110, 140, 180));
  QPainterPath path;
  const int teeth = 8;
  for (int i = 0; i < teeth * 2; ++i) {
    double a = i * M_PI / teeth;
    double r = (i % 2 == 0) ? size * 0.46 : size * 0.34;
    double a2 = a + M_PI / teeth;
    QPointF p1(r * std::cos(a), r * std::sin(a)), p2(r * std::cos(a2), r * std::sin(a2));
    if (i == 0)
      path.moveTo(p1);
    else
      path.lineTo(p1);
    path.lineTo(p2);
  }
  path.closeSubpath();
  path.addEllipse(QPointF(0, 0), size * 0.14, size * 0.14);
  p.drawPath(path);
  return image;
}

// A key: the change-password action and the password dialogs.
QImage Key(int size, QColor color) {
  QImage image = Canvas(size, size);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(color.darker(170), size / 16.0 + 0.5));
  p.setBrush(color);
  double s = size;
  p.drawEllipse(QPointF(s * 0.30, s * 0.40), s * 0.22, s * 0.22);
  p.setBrush(Qt::white);
  p.drawEllipse(QPointF(s * 0.26, s * 0.36), s * 0.07, s * 0.07);
  p.setBrush(color);
  QPainterPath shaft;
  shaft.addRect(QRectF(s * 0.48, s * 0.35, s * 0.46, s * 0.11));
  shaft.addRect(QRectF(s * 0.76, s * 0.46, s * 0.08, s * 0.16));
  shaft.addRect(QRectF(s * 0.62, s * 0.46, s * 0.08, s * 0.12));
  p.drawPath(shaft.simplified());
  return image;
}

// A round question mark: the about action.
QImage Help(int size) {
  QImage image = Canvas(size, size);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(20, 70, 150), 1));
  p.setBrush(QColor(60, 130, 220));
  p.drawEllipse(QRectF(1, 1, size - 2, size - 2));
  p.setPen(Qt::white);
  QFont font("DejaVu Sans");
  font.setBold(true);
  font.setPixelSize(size * 3 / 4);
  p.setFont(font);
  p.drawText(QRectF(0, 0, size, size), Qt::AlignCenter, "?");
  return image;
}

// A door with an arrow: the exit action.
QImage Exit(int size) {
  QImage image = Canvas(size, size);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  double s = size;
  p.setPen(QPen(QColor(90, 50, 20), 1));
  p.setBrush(QColor(170, 110, 60));
  p.drawRect(QRectF(s * 0.12, s * 0.08, s * 0.45, s * 0.84));
  p.setBrush(QColor(240, 200, 60));
  p.drawEllipse(QPointF(s * 0.48, s * 0.52), s * 0.05, s * 0.05);
  p.setPen(QPen(QColor(200, 30, 30), s / 8.0, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(s * 0.55, s * 0.5), QPointF(s * 0.92, s * 0.5));
  p.drawLine(QPointF(s * 0.78, s * 0.36), QPointF(s * 0.92, s * 0.5));
  p.drawLine(QPointF(s * 0.78, s * 0.64), QPointF(s * 0.92, s * 0.5));
  return image;
}

// The about-box picture: a card reader with a card above it, on a gradient.
QImage AboutPicture() {
  QImage image(132, 238, QImage::Format_RGB32);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient sky(0, 0, 0, 238);
  sky.setColorAt(0, QColor(30, 70, 140));
  sky.setColorAt(1, QColor(150, 200, 240));
  p.fillRect(image.rect(), sky);
  // Reader.
  p.setPen(QPen(QColor(30, 30, 30), 2));
  p.setBrush(QColor(60, 60, 70));
  p.drawRoundedRect(QRectF(26, 130, 80, 90), 8, 8);
  p.setBrush(QColor(120, 220, 120));
  p.drawEllipse(QPointF(66, 200), 6, 6);
  p.setPen(QPen(QColor(200, 200, 210), 2));
  for (int i = 0; i < 3; ++i)
    p.drawArc(QRectF(46 - i * 8, 140 - i * 8, 40 + i * 16, 40 + i * 16), 30 * 16, 120 * 16);
  // Card.
  p.setPen(QPen(QColor(120, 90, 10), 2));
  QLinearGradient gold(0, 40, 0, 110);
  gold.setColorAt(0, QColor(250, 220, 110));
  gold.setColorAt(1, QColor(210, 160, 40));
  p.setBrush(gold);
  p.drawRoundedRect(QRectF(18, 40, 96, 62), 7, 7);
  p.setBrush(QColor(230, 230, 230));
  p.drawRect(QRectF(30, 58, 18, 14));
  p.setPen(QColor(90, 60, 0));
  QFont font("DejaVu Sans");
  font.setBold(true);
  font.setPixelSize(13);
  p.setFont(font);
  p.drawText(QRectF(18, 78, 92, 20), Qt::AlignRight | Qt::AlignVCenter, "VELIO");
  font.setPixelSize(18);
  p.setFont(font);
  p.setPen(Qt::white);
  p.drawText(QRectF(0, 6, 132, 28), Qt::AlignCenter, "Tarvik");
  return image;
}

// The window icon: a card in front of a plug.
QImage AppIcon(int size) {
  QImage image = Canvas(size, size);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  double s = size;
  p.setPen(QPen(QColor(20, 60, 120), s / 24.0));
  p.setBrush(QColor(70, 140, 220));
  p.drawRoundedRect(QRectF(s * 0.06, s * 0.22, s * 0.88, s * 0.56), s * 0.08, s * 0.08);
  p.setBrush(QColor(250, 210, 90));
  p.drawRect(QRectF(s * 0.16, s * 0.36, s * 0.2, s * 0.16));
  p.setPen(QPen(Qt::white, s / 14.0, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(s * 0.46, s * 0.62), QPointF(s * 0.84, s * 0.62));
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
  bool ok = Gear(16).save(dir + "/option.png") &&
            Key(16, QColor(230, 180, 40)).save(dir + "/password.png") &&
            Help(16).save(dir + "/about.png") && Exit(16).save(dir + "/exit.png") &&
            Key(32, QColor(230, 180, 40)).save(dir + "/key32.png") &&
            Key(48, QColor(90, 170, 90)).save(dir + "/key48.png") &&
            AboutPicture().save(dir + "/about.jpg", "JPEG", 90) &&
            AppIcon(32).save(dir + "/appicon.png");
  return ok ? 0 : 1;
}
