// How a failure is told to the operator: the text derived from an error and its modal box.
#include "app/ErrorBox.h"

#include "app/MessageBox.h"

namespace {

struct ChainMessage
{
    QString innermost;
    bool sawUnknown = false;
};

// Walks the chain built by std::throw_with_nested; the deepest non-empty message wins
// because that is where the actual cause was described.
void collectMessages(const std::exception_ptr& error, ChainMessage& found)
{
    const std::nested_exception* nested = nullptr;
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        const QString message = QString::fromUtf8(e.what());
        if (!message.isEmpty()) {
            found.innermost = message;
        }
        nested = dynamic_cast<const std::nested_exception*>(&e);
    } catch (const std::nested_exception& e) {
        nested = &e;
    } catch (...) {
        found.sawUnknown = true;
    }
    // A nested_exception made outside a handler holds nothing; rethrowing it would terminate.
    if (nested != nullptr && nested->nested_ptr()) {
        collectMessages(nested->nested_ptr(), found);
    }
}

} // namespace

QString errorBoxText(std::exception_ptr error)
{
    if (!error) {
        return {};
    }
    ChainMessage found;
    collectMessages(error, found);

    QString text = found.innermost;
    if (text.isEmpty() && found.sawUnknown) {
        text = QStringLiteral("不明なエラーが発生しました");
    }
    // Everything sorting after "." (letters, digits, kana, kanji, "。") gets a closing
    // period; ")" and other low punctuation are left as the author wrote them.
    if (!text.isEmpty() && text.back() > QChar(u'.')) {
        text += u'.';
    }
    return text;
}

void showErrorBox(std::exception_ptr error)
{
    showMessageBox(QMessageBox::Critical, errorBoxText(error));
}
