// Calls from a worker thread to the dialog's thread: order, superseded writes, questions that wait
// for an answer, and stops that release them.
#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTest>
#include <atomic>
#include <chrono>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

#include "ui/DialogThreadCalls.h"

namespace irdload::ui::test {
namespace {

constexpr int kWaitMs = 60000;

// Waits, without running the event loop, until `calls` holds `count` queued calls.
bool WaitForQueued(const DialogThreadCalls& calls, std::size_t count) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
  while (calls.pending() < count) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

}  // namespace

class DialogThreadCallsTest : public QObject {
  Q_OBJECT

 private slots:
  void postedCallsRunInOrderOnTheDialogThread() {
    DialogThreadCalls calls;
    std::vector<int> ran;  // touched on this thread only
    std::atomic<bool> allOnThisThread{true};
    const std::thread::id here = std::this_thread::get_id();
    std::jthread worker([&] {
      for (int i = 0; i < 100; ++i) {
        calls.Post(i % 3, [&, i] {
          if (std::this_thread::get_id() != here) allOnThisThread = false;
          ran.push_back(i);
        });
      }
    });
    worker.join();
    QTRY_COMPARE_WITH_TIMEOUT(ran.size(), std::size_t{100}, kWaitMs);
    for (int i = 0; i < 100; ++i) QCOMPARE(ran[static_cast<std::size_t>(i)], i);
    QVERIFY(allOnThisThread);
  }

  void directWriteDropsQueuedWritesToTheSamePlace() {
    DialogThreadCalls calls;
    std::vector<int> ran;
    std::jthread worker([&] {
      calls.Post(1, [&] { ran.push_back(1); });
      calls.Post(2, [&] { ran.push_back(2); });
      calls.Post(1, [&] { ran.push_back(3); });
    });
    worker.join();
    calls.DropPending(1);
    QCOMPARE(calls.pending(), std::size_t{1});
    QTRY_COMPARE_WITH_TIMEOUT(calls.pending(), std::size_t{0}, kWaitMs);
    QCOMPARE(ran, std::vector<int>({2}));
  }

  // A burst of calls runs in one go, in order.
  void burstRunsTogether() {
    DialogThreadCalls calls;
    std::vector<int> ran;
    std::jthread([&] {
      for (int i = 0; i < 5; ++i) calls.Post(i, [&, i] { ran.push_back(i); });
    }).join();
    QTRY_COMPARE_WITH_TIMEOUT(ran.size(), std::size_t{5}, kWaitMs);
    QCOMPARE(ran, std::vector<int>({0, 1, 2, 3, 4}));
  }

  void questionWaitsForItsAnswer() {
    DialogThreadCalls calls;
    std::stop_source stop;
    std::optional<int> answer;
    std::thread::id answeredOn;
    std::jthread worker([&] {
      answer = calls.CallAndWait<int>(stop.get_token(), [&] {
        answeredOn = std::this_thread::get_id();
        return 42;
      });
    });
    const auto release = qScopeGuard([&] { stop.request_stop(); });  // never leave it waiting
    QTRY_VERIFY_WITH_TIMEOUT(answeredOn != std::thread::id(), kWaitMs);
    worker.join();
    QCOMPARE(answer, std::optional<int>(42));
    QCOMPARE(answeredOn, std::this_thread::get_id());
  }

  void stopBeforeTheQuestionIsAskedSkipsIt_data() {
    QTest::addColumn<bool>("stopBeforeCalling");
    QTest::newRow("stopped before the call") << true;
    QTest::newRow("stopped while queued") << false;
  }
  void stopBeforeTheQuestionIsAskedSkipsIt() {
    QFETCH(bool, stopBeforeCalling);
    DialogThreadCalls calls;
    std::stop_source stop;
    if (stopBeforeCalling) stop.request_stop();
    bool asked = false;
    std::optional<bool> answer = true;
    std::jthread worker([&] {
      answer = calls.CallAndWait<bool>(stop.get_token(), [&] {
        asked = true;
        return true;
      });
    });
    const auto release = qScopeGuard([&] { stop.request_stop(); });
    if (!stopBeforeCalling) {
      QVERIFY(WaitForQueued(calls, 1));
      stop.request_stop();
    }
    worker.join();  // released by the stop although nothing answered
    QCoreApplication::sendPostedEvents();
    QVERIFY(!asked);
    QVERIFY(!answer.has_value());
  }

  // A question's box runs an event loop of its own: calls posted while it is open still run in
  // it, not only once it has closed.
  void callsPostedWhileAQuestionIsOpenStillRun() {
    DialogThreadCalls calls;
    std::stop_source stop;
    bool laterRan = false;  // touched on this thread only
    std::optional<bool> answer;
    std::atomic<bool> answered{false};
    std::jthread worker([&] {
      answer = calls.CallAndWait<bool>(stop.get_token(), [&] {
        std::jthread([&] { calls.Post(7, [&] { laterRan = true; }); }).join();
        QElapsedTimer open;
        open.start();
        while (!laterRan && open.elapsed() < kWaitMs) {
          QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        return laterRan;
      });
      answered = true;
    });
    const auto release = qScopeGuard([&] { stop.request_stop(); });
    QTRY_VERIFY_WITH_TIMEOUT(answered.load(), kWaitMs);
    worker.join();
    QCOMPARE(answer, std::optional<bool>(true));
  }

  // A box already open when the stop comes: the worker goes on at once, the box stays until the
  // operator closes it.
  void stopReleasesTheWorkerWhileTheQuestionIsOpen() {
    DialogThreadCalls calls;
    std::stop_source stop;
    std::optional<bool> answer = true;
    bool workerReturnedWhileOpen = false;
    std::jthread worker;
    worker = std::jthread([&] {
      answer = calls.CallAndWait<bool>(stop.get_token(), [&] {
        stop.request_stop();
        worker.join();  // would never return if the worker still waited for this answer
        workerReturnedWhileOpen = true;
        return true;
      });
    });
    const auto release = qScopeGuard([&] { stop.request_stop(); });
    QTRY_VERIFY_WITH_TIMEOUT(workerReturnedWhileOpen, kWaitMs);
    QVERIFY(!answer.has_value());
  }
};

}  // namespace irdload::ui::test

QTEST_MAIN(irdload::ui::test::DialogThreadCallsTest)
#include "DialogThreadCallsTest.moc"
