#include "platform/ui/Application.h"
#include "platform/ui/Terminate.h"

#include <QApplication>
#include <QCloseEvent>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>

namespace kestrom::ui {

namespace {

// Runs the application's loop; a bound ends it with 99 should nothing else.
int RunBounded() {
  QTimer bound;
  bound.setSingleShot(true);
  QObject::connect(&bound, &QTimer::timeout, [] { QCoreApplication::exit(99); });
  bound.start(5000);
  return QCoreApplication::exec();
}

class Form : public QWidget {
 public:
  bool refuse = false;
  int closeQueries = 0;

 protected:
  void closeEvent(QCloseEvent* e) override {
    ++closeQueries;
    if (refuse) e->ignore(); else e->accept();
  }
};

}  // namespace

TEST(Terminate, EndsTheLoopOnlyWhenControlReturnsToIt) {
  ResetTerminated();
  Form form;
  form.show();
  bool handlerFinished = false, laterEventRan = false, earlierEventRan = false;
  QTimer::singleShot(0, [&] {
    QMetaObject::invokeMethod(qApp, [&] { earlierEventRan = true; }, Qt::QueuedConnection);
    Terminate();
    Terminate();  // a second call changes nothing
    EXPECT_TRUE(Terminated());
    handlerFinished = true;  // the handler still runs to its end
  });
  QTimer::singleShot(1000, [&] { laterEventRan = true; });
  EXPECT_EQ(RunBounded(), 0);
  EXPECT_TRUE(handlerFinished);
  EXPECT_TRUE(earlierEventRan);
  EXPECT_FALSE(laterEventRan);
  EXPECT_EQ(form.closeQueries, 0) << "no close query runs";
  EXPECT_TRUE(form.isVisible());
  ResetTerminated();
  EXPECT_FALSE(Terminated());
}

TEST(Terminate, AlsoEndsAModalLoopRunningAtTheTime) {
  ResetTerminated();
  QEventLoop modal;
  int modalResult = -1;
  QTimer::singleShot(0, [&] {
    QTimer::singleShot(0, [] { Terminate(); });
    modalResult = modal.exec();  // as a modal dialog would
  });
  EXPECT_EQ(RunBounded(), 0);
  EXPECT_EQ(modalResult, 0);
  ResetTerminated();
}

TEST(Application, ClosingTheMainFormEndsTheProgramOtherFormsOnlyHide) {
  ResetTerminated();
  Form main, other;
  InstallMainForm(&main);
  EXPECT_EQ(MainForm(), &main);
  EXPECT_FALSE(QGuiApplication::quitOnLastWindowClosed());
  main.show();
  other.show();

  EXPECT_TRUE(other.close());
  EXPECT_FALSE(other.isVisible());
  EXPECT_FALSE(Terminated());

  main.refuse = true;
  EXPECT_FALSE(main.close());
  EXPECT_TRUE(main.isVisible());
  EXPECT_FALSE(Terminated());
  EXPECT_EQ(main.closeQueries, 1);

  main.refuse = false;
  EXPECT_TRUE(main.close());
  EXPECT_EQ(main.closeQueries, 2);
  EXPECT_TRUE(Terminated());
  EXPECT_EQ(RunMessageLoop(), 0) << "a terminated program runs no loop";
  EXPECT_EQ(RunBounded(), 0) << "the queued end is still due and ends the loop at once";
  InstallMainForm(nullptr);
  QGuiApplication::setQuitOnLastWindowClosed(true);
  ResetTerminated();
}

}  // namespace kestrom::ui
