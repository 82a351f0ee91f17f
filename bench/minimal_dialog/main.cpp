// A minimal Qt Widgets program of ours: one dialog with a drop-down and a
// button, like the setup's language dialog. It prints "shown" as soon as the
// dialog is up and ends. The wizard's start-up benchmark measures against it.
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QPushButton>
#include <QTimer>
#include <cstdio>

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QDialog dialog;
  dialog.setWindowTitle("Select Language");
  dialog.setFixedSize(220, 75);
  auto* list = new QComboBox(&dialog);
  list->addItem("English");
  list->setGeometry(8, 8, 204, list->sizeHint().height());
  auto* ok = new QPushButton("OK", &dialog);
  ok->setGeometry(60, 42, 100, 25);
  QTimer::singleShot(0, &dialog, [&] {
    std::printf("shown\n");
    std::fflush(stdout);
    dialog.accept();
  });
  dialog.exec();
  return 0;
}
