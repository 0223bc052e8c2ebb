#include "uiseam.h"

#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>

#include "controls.h"

namespace {
UiSeam::Answerer g_answerer;
std::vector<SeamCall> g_calls;
}  // namespace

namespace UiSeam {

int MessageBox(QWidget* parent, const QString& text, MsgIcon icon)
{
    const SeamCall call{SeamCall::Message, DisplayName(), text, icon, nullptr};
    if (g_answerer) {
        g_calls.push_back(call);
        return g_answerer(call);
    }
    const QMessageBox::Icon qicon = icon == MsgIcon::Stop          ? QMessageBox::Critical
                                    : icon == MsgIcon::Exclamation ? QMessageBox::Warning
                                    : icon == MsgIcon::Question    ? QMessageBox::Question
                                                                   : QMessageBox::Information;
    QMessageBox box(qicon, call.title, text, QMessageBox::Ok, parent);
    box.exec();
    return 1;
}

int Confirm(QWidget* parent, const QString& text)
{
    const SeamCall call{SeamCall::Confirm, DisplayName(), text, MsgIcon::Question, nullptr};
    if (g_answerer) {
        g_calls.push_back(call);
        return g_answerer(call) == 1 ? 1 : 2;
    }
    QMessageBox box(QMessageBox::Question, call.title, text, QMessageBox::Ok | QMessageBox::Cancel,
                    parent);
    box.setDefaultButton(QMessageBox::Cancel);
    return box.exec() == QMessageBox::Ok ? 1 : 2;
}

int RunModal(QDialog* dialog)
{
    if (!g_answerer)
        return dialog->exec();
    const SeamCall call{SeamCall::Modal, DisplayName(), dialog->windowTitle(), MsgIcon::Information,
                        dialog};
    g_calls.push_back(call);
    dialog->setResult(0);
    dialog->show();
    const int answer = g_answerer(call);
    if (dialog->isVisible()) {
        dialog->hide();
        return answer;
    }
    return dialog->result();
}

QString GetSaveFileName(QWidget* parent, const QString& caption, const QString& suggested,
                        const QString& filter)
{
    if (!g_answerer)
        return QFileDialog::getSaveFileName(parent, caption, suggested, filter);
    QString chosen = suggested;
    SeamCall call{SeamCall::SaveFile, DisplayName(), caption, MsgIcon::Information, nullptr, &chosen};
    g_calls.push_back(call);
    g_calls.back().fileName = nullptr;   // the recorded call outlives the text
    if (g_answerer(call) != 1)
        return QString();
    return chosen;
}

void SetAnswerer(Answerer answerer)
{
    g_answerer = std::move(answerer);
}

const std::vector<SeamCall>& Calls() { return g_calls; }
void ClearCalls() { g_calls.clear(); }

}  // namespace UiSeam
