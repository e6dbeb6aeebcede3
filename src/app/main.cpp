#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Pellarin"));
  QMainWindow window;
  window.setWindowTitle(QStringLiteral("Quindelle"));
  window.show();
  return app.exec();
}
