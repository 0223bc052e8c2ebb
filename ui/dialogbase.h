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
class QPainter;
class QPushButton;
class QScrollArea;
class CDialogPage;

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
    // shows the dialog modelessly. Before OnInitDialog the window is fitted
    // to the screen it opens on (its owner's, else the primary screen).
    bool EnsureInitialized();

    // Fits the window into an area of the desktop (a screen's available area).
    // Where the template with the window's frame is larger than the area, the
    // window is capped to it and its controls scroll; otherwise the window has
    // the template's size and no scroll bars.
    void FitToArea(const QRect& area);
    // Places the window, frame included, in the middle of the area; a frame
    // larger than the area keeps its title bar on the area.
    void CentreInArea(const QRect& area);
    // The window's size with the frame the window system gives it, as far as
    // that is known before the window is shown (else a title bar's height).
    QSize FrameSize() const;
    // The scroll area that holds the controls while the window is capped;
    // nullptr while the whole template shows.
    QScrollArea* scrollArea() const { return m_pScroll; }

protected:
    // Called once before the dialog is first shown.
    virtual bool OnInitDialog() { return true; }
    // Paints on the controls' page, under the controls (for pictures that
    // belong to the template and scroll with it).
    virtual void PaintPage(QPainter& painter) { (void)painter; }
    // Once shown, the window is fitted again to each screen it moves to, and
    // to its area again once the window system tells the frame it gave it.
    void showEvent(QShowEvent* e) override;
    void moveEvent(QMoveEvent* e) override;
    // Shift+F10 or the context-menu key in a text box opens that box's menu.
    void keyPressEvent(QKeyEvent* e) override;
    // The same for a window with keys of its own: true when the key opened
    // (or found open) a text box's menu and is done with.
    bool OpenTextBoxMenu(const QKeyEvent* e);

    // The widget that holds every control of the template: the parent to give
    // controls built outside the Add... helpers.
    QWidget* Page() const;

    const DialogUnits& Dlu() const { return m_dlu; }
    // Caption, system menu and close box, modal frame: the frame of the forms.
    void SetModalFrame(const QString& caption);
    void SetClientSize(int wDlu, int hDlu);

    QPushButton* AddButton(int id, const QString& text, int x, int y, int w, int h);
    QLineEdit* AddEdit(int id, const QString& name, int x, int y, int w, int h);
    QLabel* AddLabel(const QString& text, Qt::Alignment align, int x, int y, int w, int h);
    QGroupBox* AddGroup(const QString& title, int x, int y, int w, int h);

private:
    friend class CDialogPage;
    QMargins FrameMargins() const;
    // At a fractional scale a frame's one-pixel border falls partly on the
    // device pixels of the controls inside it (a list's view, a scroll bar,
    // an address field), which then paint over it; the frames keep them off.
    void KeepFramesVisible();
    // Names each drop-down list's popup after its list.
    void NamePopups();

    // Fits again to the last area when the frame is not the one it was
    // fitted with (before the window is shown the frame is only estimated).
    void RefitForFrame();

    int m_nTemplateId;
    DialogUnits m_dlu;
    QRect m_fitArea;         // the area of the last FitToArea
    QMargins m_fitMargins;   // and the frame it counted with
    CDialogPage* m_pPage = nullptr;
    QScrollArea* m_pScroll = nullptr;
    bool m_bInitialized = false;
    bool m_bFollowsScreen = false;
};

// The widget that carries a dialog's controls, so that they can scroll as one
// when the window is smaller than its template.
class CDialogPage : public QWidget {
    Q_OBJECT
public:
    explicit CDialogPage(CDialogBase* dialog);

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    CDialogBase* m_pDialog;
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
