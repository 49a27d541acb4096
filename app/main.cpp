#include <QApplication>
#include <QFont>

#include "app/EndSignals.h"
#include "app/frmMain.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  app.setApplicationName(QStringLiteral("Korvessa"));
  app.setFont(QFont(QStringLiteral("IPAPGothic"), 9));
  frmMain form;
  form.Form_Load();
  form.show();
  kv::CloseOnEndSignals(&form);
  return app.exec();
}
