#include "workflows/save_job.h"

#include "platform/scratch_file.h"
#include "ui/command_lock.h"
#include "ui/text_controls.h"
#include "ui/window.h"
#include "workflows/control_names.h"
#include "workflows/progress_panel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <optional>
#include <thread>

namespace vantrel::workflows {
namespace {

constexpr const char* kSaving = "正在保存图片";

// The progress panel's title says what it is waiting for, and is put back afterwards.
class PanelTitle {
public:
    PanelTitle(ui::Window& window, const char* title)
        : label_(window.control<ui::Label>(control::kProgressTitle))
        , saved_(label_.caption()) {
        label_.setCaption(QString::fromUtf8(title));
    }
    ~PanelTitle() { label_.setCaption(saved_); }
    PanelTitle(const PanelTitle&) = delete;
    PanelTitle& operator=(const PanelTitle&) = delete;

private:
    ui::Label& label_;
    QString saved_;
};

struct Job {
    SaveRequest request;
    SaveOutcome outcome;
    // Of the whole save: the scratch file is its first tenth, the conversion the rest.
    std::atomic<int> scratchPermille{0};
    imaging::ConversionProgress conversion;
    std::atomic<bool> done{false};
};

void work(Job& job) {
    auto& request = job.request;
    job.outcome.written = platform::rewriteScratchFile(
        request.scratch, std::string_view(reinterpret_cast<const char*>(request.content->data()),
                                          request.content->size()));
    // The conversion reads the scratch file: the caller's bytes are not held twice meanwhile.
    request.content.reset();
    job.scratchPermille = 100;
    if (!request.convert || !job.outcome.written) {
        return;
    }
    const std::string source = request.scratch.string();
    int result = imaging::kTargetNotWritten;
    switch (request.format) {
    case SaveFormat::Jpeg:
        result = imaging::toJpeg(source, request.target, false, request.quality, true, 0,
                                 &job.conversion);
        break;
    case SaveFormat::Bmp:
        result = imaging::toBmp(source, request.target, &job.conversion);
        break;
    case SaveFormat::Png:
        result = imaging::toPng(source, request.target, 24, &job.conversion);
        break;
    }
    job.outcome.result = result;
    // Per thread: read here, on the thread that converted.
    job.outcome.error = result == imaging::kConvertOk ? 0 : imaging::lastConversionErrno();
    if (result == imaging::kConvertOk) {
        job.outcome.path = request.target.path();
    }
}

} // namespace

SaveOutcome runSave(ui::Window& window, SaveRequest request,
                    std::chrono::milliseconds progressDelay) {
    Job job;
    job.request = std::move(request);
    std::thread worker([&job] {
        work(job);
        job.done = true;
        // Wakes the GUI thread's wait below.
        QMetaObject::invokeMethod(
            qApp, [] {}, Qt::QueuedConnection);
    });

    QElapsedTimer clock;
    clock.start();
    QTimer tick; // wakes the wait to show the progress and to update it
    tick.start(100);
    std::optional<ui::CommandLock> lock;
    std::optional<PanelTitle> title;
    std::optional<ProgressPanel> progress;
    // Once round at least, so that a save that is to show its progress at once always does.
    do {
        if (!progress && clock.elapsed() >= progressDelay.count()) {
            lock.emplace(window);
            title.emplace(window, kSaving);
            progress.emplace(window);
            progress->begin();
        }
        if (progress) {
            const int permille = job.scratchPermille +
                                 job.conversion.permille.load(std::memory_order_relaxed) * 9 / 10;
            progress->setPercent(progressPercent(permille, 1000));
        }
        // Until the commands are disabled, a click waits for the end of the save rather than
        // starting another command in the middle of it.
        QCoreApplication::processEvents(
            (progress ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents) |
            QEventLoop::WaitForMoreEvents);
    } while (!job.done);
    worker.join();
    if (progress) {
        progress->setPercent(100);
        progress->hide();
    }
    return std::move(job.outcome);
}

} // namespace vantrel::workflows
