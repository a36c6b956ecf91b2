#include "ui/input_box.h"

#include "ui/char_filter.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vantrel::ui {

InputBox::InputBox(const platform::InputRequest& request, QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                         Qt::MSWindowsFixedSizeDialogHint)
    , field_(new QLineEdit(this)) {
    setWindowTitle(QString::fromStdString(request.title));
    setModal(true);

    auto* prompt = new QLabel(QString::fromStdString(request.prompt), this);
    prompt->setBuddy(field_);
    field_->setAccessibleName(prompt->text());
    field_->setText(QString::fromStdString(request.initialText));
    field_->selectAll();
    if (!request.allowedCharacters.empty()) {
        installCharFilter(field_, QString::fromStdString(request.allowedCharacters));
    }

    auto* buttons = new QDialogButtonBox(this);
    auto* ok =
        buttons->addButton(QString::fromStdString(request.okCaption), QDialogButtonBox::AcceptRole);
    buttons->addButton(QString::fromStdString(request.cancelCaption), QDialogButtonBox::RejectRole);
    ok->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(prompt);
    layout->addWidget(field_);
    layout->addWidget(buttons);
    setMinimumWidth(320);
    field_->setFocus();
}

QString InputBox::text() const {
    return field_->text();
}

} // namespace vantrel::ui
