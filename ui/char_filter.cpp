#include "ui/char_filter.h"

#include <QEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QObject>
#include <QWidget>

namespace vantrel::ui {
namespace {

class CharFilter final : public QObject {
public:
    CharFilter(const QString& allowed, QObject* parent)
        : QObject(parent)
        , allowed_(allowed) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            return rejects(key->text());
        }
        if (event->type() == QEvent::InputMethod) {
            const auto* input = static_cast<QInputMethodEvent*>(event);
            return rejects(input->commitString());
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool rejects(const QString& typed) const {
        for (const QChar c : typed) {
            if (c.isPrint() && !allowed_.contains(c)) {
                return true;
            }
        }
        return false;
    }

    QString allowed_;
};

} // namespace

void installCharFilter(QWidget* field, const QString& allowedCharacters) {
    field->installEventFilter(new CharFilter(allowedCharacters, field));
}

} // namespace vantrel::ui
