#include "devices/print_progress_window.h"

#include "devices/printer_texts.h"

#include <QApplication>
#include <QFormLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace vantrel::devices {

PrintProgressWindow::PrintProgressWindow(const QString& jobName, const QString& destination)
    : QWidget(nullptr, Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint)
    , jobName_(new QLabel(jobName))
    , destination_(new QLabel(destination))
    , copy_(new QLabel)
    , page_(new QLabel)
    , abort_(new QPushButton(QString::fromUtf8(printer_text::kAbortButton))) {
    setWindowTitle(QString::fromUtf8(printer_text::kProgressCaption));
    setWindowModality(Qt::NonModal);
    auto* form = new QFormLayout;
    form->addRow(QString::fromUtf8(printer_text::kJobNameLabel), jobName_);
    form->addRow(QString::fromUtf8(printer_text::kDestinationLabel), destination_);
    form->addRow(QString::fromUtf8(printer_text::kCopiesLabel), copy_);
    form->addRow(QString::fromUtf8(printer_text::kPageLabel), page_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(abort_, 0, Qt::AlignHCenter);
    setNumbers(1, 1);
}

PrintProgressWindow::~PrintProgressWindow() {
    finish();
}

void PrintProgressWindow::setNumbers(int copy, int page) {
    copy_->setText(QString::number(copy));
    page_->setText(QString::number(page));
}

void PrintProgressWindow::setAbortHandler(QObject* context, std::function<void()> handler) {
    // Queued: the handler closes this window, which must not happen inside the button's click.
    connect(abort_, &QPushButton::clicked, context, std::move(handler), Qt::QueuedConnection);
}

QString PrintProgressWindow::jobName() const {
    return jobName_->text();
}
QString PrintProgressWindow::destination() const {
    return destination_->text();
}
QString PrintProgressWindow::copyText() const {
    return copy_->text();
}
QString PrintProgressWindow::pageText() const {
    return page_->text();
}

void PrintProgressWindow::open() {
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window != this && window->isWindow() && window->isEnabled()) {
            window->setEnabled(false);
            disabled_.emplace_back(window);
        }
    }
    show();
    repaint();
}

void PrintProgressWindow::finish() {
    hide();
    for (const QPointer<QWidget>& window : disabled_) {
        if (window) {
            window->setEnabled(true);
        }
    }
    disabled_.clear();
}

} // namespace vantrel::devices
