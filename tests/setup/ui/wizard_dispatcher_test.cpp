// The wizard's hand-over of calls from other threads to the Qt thread.
#include <QTimer>
#include <stdexcept>

#include "setup/ui/wizard_dispatcher.h"
#include "wizard_fixture.h"

namespace orvi::test {
namespace {

class WizardDispatcherTest : public WizardTest {
 protected:
  setup::TWizardDispatcher dispatcher_;
};

TEST_F(WizardDispatcherTest, CallsRunOnTheQtThreadInOrderWhileTheCallerWaits) {
  TWatchdog watchdog(30);
  const std::thread::id qtThread = std::this_thread::get_id();
  std::vector<int> order;
  std::atomic<bool> done{false};
  std::string failure;
  std::thread worker([&] {
    for (int i = 0; i < 50; ++i)
      dispatcher_.Invoke([&, i] {
        EXPECT_EQ(std::this_thread::get_id(), qtThread);
        order.push_back(i);
      });
    EXPECT_EQ(order.size(), 50u) << "each call has run when Invoke returns";
    try {
      dispatcher_.Invoke([] { throw std::runtime_error("thrown on the Qt thread"); });
    } catch (const std::runtime_error& e) {
      failure = e.what();
    }
    done = true;
    dispatcher_.Wake();
  });
  ASSERT_TRUE(QTest::qWaitFor([&] { return done.load(); }, 20000)) << "the event loop serves the calls";
  worker.join();
  for (int i = 0; i < 50; ++i) EXPECT_EQ(order[static_cast<size_t>(i)], i);
  EXPECT_EQ(failure, "thrown on the Qt thread");

  bool direct = false;
  dispatcher_.Invoke([&] { direct = true; });
  EXPECT_TRUE(direct) << "on the Qt thread the call runs at once";
}

TEST_F(WizardDispatcherTest, WaitingServesCallsAlsoInsideAQueuedCall) {
  TWatchdog watchdog(30);
  // A wait inside a handler of a queued call (as a closing wizard's is) may
  // not get the event loop to deliver further queued calls: the wait serves
  // the calls itself.
  std::atomic<bool> finished{false};
  int served = 0;
  bool waited = false;
  std::thread worker;
  QMetaObject::invokeMethod(
      QCoreApplication::instance(),
      [&] {
        worker = std::thread([&] {
          for (int i = 0; i < 20; ++i) dispatcher_.Invoke([&] { ++served; });
          finished = true;
          dispatcher_.Wake();
        });
        dispatcher_.WaitUntil([&] { return finished.load(); });
        waited = true;
      },
      Qt::QueuedConnection);
  ASSERT_TRUE(QTest::qWaitFor([&] { return waited; }, 20000));
  worker.join();
  EXPECT_EQ(served, 20);
}

TEST_F(WizardDispatcherTest, IdleActionsWaitForTheCallToReturn) {
  TWatchdog watchdog(30);
  std::vector<std::string> events;
  std::atomic<bool> released{false};
  std::thread worker([&] {
    dispatcher_.Invoke([&] {
      EXPECT_TRUE(dispatcher_.Serving());
      dispatcher_.WhenIdle([&] {
        events.push_back(released ? "idle action after the caller was released" : "idle action too early");
      });
      events.push_back("call returns");
    });
    released = true;
  });
  ASSERT_TRUE(QTest::qWaitFor([&] { return events.size() == 2; }, 20000));
  worker.join();
  EXPECT_EQ(events[0], "call returns");
  EXPECT_FALSE(dispatcher_.Serving());

  bool ran = false;
  dispatcher_.WhenIdle([&] { ran = true; });
  EXPECT_TRUE(ran) << "no call running: at once";
}

}  // namespace
}  // namespace orvi::test
