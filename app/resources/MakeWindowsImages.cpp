// MakeWindowsImages: turns the program's pictures in this folder into the
// Windows program's resources in win/: the window icon and the tool bar and
// password-dialog pictures as icons (each one picture stored as PNG inside the
// icon, so the alpha stays), the about picture as a 24-bit bitmap.
//
// Not part of the build; scripts/make-windows-images.sh compiles and runs it
// after a drawing changed, and the results are committed.
#include <QBuffer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QString>
#include <cstdio>

namespace {

void Put16(QByteArray& out, int v) {
  out.append(char(v & 0xff));
  out.append(char((v >> 8) & 0xff));
}

void Put32(QByteArray& out, int v) {
  Put16(out, v & 0xffff);
  Put16(out, (v >> 16) & 0xffff);
}

bool WriteIcon(const QString& png, const QString& ico) {
  QImage image(png);
  if (image.isNull()) return false;
  QByteArray data;
  QBuffer buffer(&data);
  buffer.open(QIODevice::WriteOnly);
  image.convertToFormat(QImage::Format_ARGB32).save(&buffer, "PNG");
  QByteArray out;
  Put16(out, 0);  // reserved
  Put16(out, 1);  // an icon
  Put16(out, 1);  // one picture
  out.append(char(image.width() >= 256 ? 0 : image.width()));
  out.append(char(image.height() >= 256 ? 0 : image.height()));
  out.append(char(0));  // no palette
  out.append(char(0));
  Put16(out, 1);   // planes
  Put16(out, 32);  // bits per pixel
  Put32(out, int(data.size()));
  Put32(out, 6 + 16);  // the picture follows the one directory entry
  out.append(data);
  QFile file(ico);
  return file.open(QIODevice::WriteOnly) && file.write(out) == out.size();
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: make-windows-images RESOURCE-FOLDER\n");
    return 2;
  }
  const QString dir = QString::fromLocal8Bit(argv[1]);
  bool ok = true;
  for (const char* name : {"appicon", "option", "password", "about", "exit", "key32", "key48"})
    ok = WriteIcon(dir + "/" + name + ".png", dir + "/win/" + name + ".ico") && ok;
  ok = QImage(dir + "/about.jpg")
           .convertToFormat(QImage::Format_RGB888)
           .save(dir + "/win/about.bmp", "BMP") &&
       ok;
  std::printf("%s\n", ok ? "written" : "FAILED");
  return ok ? 0 : 1;
}
