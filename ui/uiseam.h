// The one way the program shows message boxes and runs modal forms, so that
// tests can answer them instead of a user and nothing ever blocks.
#pragma once

#include <QString>
#include <functional>
#include <vector>

class QDialog;
class QWidget;

enum class MsgIcon { Stop, Exclamation, Information, Question };

struct SeamCall {
    enum Kind { Message, Modal, SaveFile, Confirm } kind;
    QString title;
    QString text;        // message text, the form's window title, or the file dialog's caption
    MsgIcon icon = MsgIcon::Information;
    QDialog* dialog = nullptr;   // the form, for Modal calls
    QString* fileName = nullptr; // SaveFile calls: the suggested name; the answerer sets the chosen one
};

namespace UiSeam {

// Shows a modal message box with an OK button, titled with the display name.
// Returns 1 (OK).
int MessageBox(QWidget* parent, const QString& text, MsgIcon icon);

// Asks before an action: a modal message box with the question icon and OK
// and Cancel buttons (Cancel the default), titled with the display name.
// Returns 1 (OK) or 2 (Cancel, also for a box closed otherwise).
int Confirm(QWidget* parent, const QString& text);

// Runs an initialised form modally; returns its result (1 OK, 2 Cancel).
int RunModal(QDialog* dialog);

// Asks where to save a file; the chosen path, or an empty text when the user
// cancelled. suggested is the name offered first; filter as for QFileDialog.
QString GetSaveFileName(QWidget* parent, const QString& caption, const QString& suggested,
                        const QString& filter);

// Test hook. With an answerer installed, message boxes are not shown: the
// answerer is called and its result returned (for Confirm: 1 OK, anything
// else Cancel). A form is shown without a
// nested loop; the answerer may drive it (type, click OK or Cancel) and
// returns the result to use when the form is still open afterwards. For a
// file dialog the answerer sets *fileName and returns 1, or returns 2 to cancel.
using Answerer = std::function<int(const SeamCall&)>;
void SetAnswerer(Answerer answerer);
const std::vector<SeamCall>& Calls();
void ClearCalls();

}  // namespace UiSeam
