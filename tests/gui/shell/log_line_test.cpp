// The Log pane's line writer and the trace line.
#include <QDialog>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QScrollBar>
#include <QtTest>
#include <chrono>
#include <ctime>
#include <future>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "shell/cvx418_dlg.h"
#include "shell/log_line.h"
#include "shell/shell_state.h"

namespace {

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(text.substr(start, end - start));
    }
    if (start < text.size()) {
        lines.push_back(text.substr(start));  // an unterminated rest
    }
    return lines;
}

const QRegularExpression kTraceStamp(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}  )");

// The stamp a trace line written at time t carries, composed independently of the program.
std::string StampAt(std::time_t t) {
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S  ", std::localtime(&t));
    return text;
}

}  // namespace

class LogLineTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<CVX418Dlg> dialog_;

    std::string Pane() { return dialog_->m_LogPane.GetWindowText(); }

  private slots:
    void initTestCase() {
        dialog_ = std::make_unique<CVX418Dlg>(nullptr);
        dialog_->GetSafeHwnd()->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog_->GetSafeHwnd()));
    }

    void init() { dialog_->m_LogPane.SetWindowText(""); }

    void linesAreCutAndEndInCrLf() {
        const std::string longText(300, 'x');
        LogLine(dialog_.get(), "%s", longText.c_str());
        LogLine(dialog_.get(), "Please select a Receiver to add.");
        LogLine(dialog_.get(), "%d units, %s", 3, "done");
        LogLine(dialog_.get(), "%s", "");
        LogLine(nullptr, "dropped");
        QCOMPARE(Pane(), std::string(255, 'x') + "\r\nPlease select a Receiver to add.\r\n" +
                             "3 units, done\r\n\r\n");
    }

    void typedTextStaysAndThePaneShowsTheLastLine() {
        auto* pane = qobject_cast<QPlainTextEdit*>(dialog_->m_LogPane.widget());
        LogLine(dialog_.get(), "first");
        pane->setFocus();
        pane->moveCursor(QTextCursor::End);
        QTest::keyClicks(pane, "typed");
        for (int i = 0; i < 200; ++i) {
            LogLine(dialog_.get(), "line %d", i);
        }
        const std::vector<std::string> lines = SplitLines(Pane());
        QCOMPARE(lines.size(), std::size_t{201});
        QCOMPARE(lines[0], std::string("first"));
        QCOMPARE(lines[1], std::string("typedline 0"));
        QCOMPARE(lines.back(), std::string("line 199"));
        QScrollBar* bar = pane->verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        QTRY_COMPARE(bar->value(), bar->maximum());
    }

    // A worker's line never waits for the window: this thread does not serve events until the
    // worker is done.
    void workersDoNotWaitForTheWindow() {
        CVX418Dlg* d = dialog_.get();
        auto done = std::async(std::launch::async, [d] {
            for (int i = 0; i < 100; ++i) {
                LogLine(d, "queued %d", i);
            }
        });
        QVERIFY(done.wait_for(std::chrono::seconds(10)) == std::future_status::ready);
        QTRY_COMPARE(SplitLines(Pane()).size(), std::size_t{100});
        QCOMPARE(SplitLines(Pane()).back(), std::string("queued 99"));
    }

    // 8 threads x 2,000 lines: every line whole, none lost, each thread's order kept.
    void concurrentLinesStayWholeAndInOrder() {
        constexpr int kThreads = 8;
        constexpr int kLinesEach = 2000;
        CVX418Dlg* d = dialog_.get();
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([d, t] {
                for (int i = 0; i < kLinesEach; ++i) {
                    LogLine(d, "thread %d line %d of the concurrency test", t, i);
                }
            });
        }
        LogLine(d, "from the window thread");
        for (auto& thread : threads) {
            thread.join();
        }
        QTRY_COMPARE_WITH_TIMEOUT(SplitLines(Pane()).size(), std::size_t{kThreads * kLinesEach + 1},
                                  20000);
        const std::string text = Pane();
        QVERIFY(text.size() >= 2 && text.substr(text.size() - 2) == "\r\n");
        std::vector<int> next(kThreads, 0);
        for (const std::string& line : SplitLines(text)) {
            if (line == "from the window thread") {
                continue;
            }
            int t = -1;
            int i = -1;
            char tail[64] = {};
            QVERIFY2(
                std::sscanf(line.c_str(), "thread %d line %d of the %63[a-z ]", &t, &i, tail) == 3,
                line.c_str());
            QCOMPARE(std::string(tail), std::string("concurrency test"));
            QVERIFY(t >= 0 && t < kThreads);
            QCOMPARE(i, next[t]);
            ++next[t];
        }
        QCOMPARE(next, std::vector<int>(kThreads, kLinesEach));
    }

    void traceLinesKeepOnlyTheLatestAndStayOutOfThePane() {
        LogLine(dialog_.get(), "visible");
        const std::string before = Pane();
        TraceLine("< version : %s >", "x.y.z");
        const std::time_t from = std::time(nullptr);
        TraceLine("===== Refresh Timeout is %d mseconds =====", 5000);
        const std::time_t to = std::time(nullptr);
        QCOMPARE(Pane(), before);
        const std::string trace = TraceBufferText();
        const auto stamp = kTraceStamp.match(QString::fromStdString(trace));
        QVERIFY(stamp.hasMatch());
        const std::string shown = trace.substr(0, static_cast<std::size_t>(stamp.capturedLength()));
        QVERIFY2(shown == StampAt(from) || shown == StampAt(to), shown.c_str());
        QCOMPARE(trace.substr(static_cast<std::size_t>(stamp.capturedLength())),
                 std::string("===== Refresh Timeout is 5000 mseconds =====\r\n"));

        // The composed line is cut at 255 characters, losing its CR LF.
        const std::string longText(300, 'y');
        TraceLine("%s", longText.c_str());
        const std::string cut = TraceBufferText();
        QCOMPARE(cut.size(), std::size_t{255});
        QCOMPARE(cut.back(), 'y');
    }

    void mainDialogSinkReachesThePaneAndTheTrace() {
        MainDialog = dialog_.get();
        MainDialogLineSink().Log(std::string_view("Succeeded in updating device's name.xyz", 36));
        MainDialogLineSink().Trace("Device Name is TX1");
        QCOMPARE(Pane(), std::string("Succeeded in updating device's name.\r\n"));
        QVERIFY(TraceBufferText().ends_with("  Device Name is TX1\r\n"));
        MainDialog = nullptr;
        MainDialogLineSink().Log("nowhere");  // before command 0 nothing has a pane
        QCOMPARE(Pane(), std::string("Succeeded in updating device's name.\r\n"));
    }
};

QTEST_MAIN(LogLineTest)
#include "log_line_test.moc"
