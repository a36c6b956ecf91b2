#pragma once
// The window shown while a print job runs: job name, destination, copy and page numbers, and the
// "中止打印" button. It is modeless, but while it is open every other top-level window of the
// program is disabled; closing it enables exactly those windows again.

#include <QPointer>
#include <QWidget>
#include <functional>
#include <vector>

class QLabel;
class QPushButton;

namespace vantrel::devices {

class PrintProgressWindow final : public QWidget {
    Q_OBJECT
public:
    PrintProgressWindow(const QString& jobName, const QString& destination);
    ~PrintProgressWindow() override;

    void setNumbers(int copy, int page);
    // Called (queued, from the event loop) when the user presses "中止打印".
    void setAbortHandler(QObject* context, std::function<void()> handler);

    QString jobName() const;
    QString destination() const;
    QString copyText() const;
    QString pageText() const;
    QPushButton* abortButton() const { return abort_; }

    // Shows the window, disables the program's other windows and paints at once.
    void open();
    // Hides the window and enables the windows open() disabled.
    void finish();

private:
    QLabel* jobName_;
    QLabel* destination_;
    QLabel* copy_;
    QLabel* page_;
    QPushButton* abort_;
    std::vector<QPointer<QWidget>> disabled_;
};

} // namespace vantrel::devices
