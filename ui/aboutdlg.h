// The About box: program name, version and copyright, with an OK button.
#pragma once

#include "dialogbase.h"

class CAboutDlg : public CDialogBase {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
    ~CAboutDlg() override;
};
