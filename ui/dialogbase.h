// Base of the program's dialogs: controls placed in dialog units from a
// template, an initialisation step before the dialog is shown, and a modal
// run that goes through the seam.
#pragma once

#include <QDialog>
#include <QPlainTextEdit>

#include "controls.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

class CDialogBase : public QDialog {
    Q_OBJECT
public:
    CDialogBase(int templateId, const QFont& font, QWidget* parent = nullptr);

    int templateId() const { return m_nTemplateId; }

    // Initialises the dialog (once) and runs it modally: 1 OK, 2 Cancel.
    int DoModal();

    // Initialises the dialog (once) and runs it as an ordinary top-level
    // window: shown without modality, with an event loop of its own that
    // ends when the dialog ends. Returns its result, as DoModal does.
    int RunWindow();

    // Runs OnInitDialog once; DoModal and RunWindow call it, and so may a caller that
    // shows the dialog modelessly.
    bool EnsureInitialized();

protected:
    // Called once before the dialog is first shown.
    virtual bool OnInitDialog() { return true; }

    const DialogUnits& Dlu() const { return m_dlu; }
    // Caption, system menu and close box, modal frame: the frame of the forms.
    void SetModalFrame(const QString& caption);
    void SetClientSize(int wDlu, int hDlu);

    QPushButton* AddButton(int id, const QString& text, int x, int y, int w, int h);
    QLineEdit* AddEdit(int id, const QString& name, int x, int y, int w, int h);
    QLabel* AddLabel(const QString& text, Qt::Alignment align, int x, int y, int w, int h);
    QGroupBox* AddGroup(const QString& title, int x, int y, int w, int h);

private:
    int m_nTemplateId;
    DialogUnits m_dlu;
    bool m_bInitialized = false;
};

// Multi-line read-only text box whose text is kept exactly as set, with its
// CR LF line ends, so lengths count as the protocol and the log count them.
class CMultiLineEdit : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit CMultiLineEdit(QWidget* parent = nullptr);
    void SetWindowText(const QString& text);
    QString GetWindowText() const { return m_strText; }
    // Scrolls so that the text's last line is in view.
    void ShowLastLine();

private:
    QString m_strText;
};
