#include "aboutdlg.h"

#include <QLabel>
#include <QPushButton>

#include "resource.h"

CAboutDlg::CAboutDlg(QWidget* parent)
    : CDialogBase(IDD_ABOUTBOX, DialogFont(QStringLiteral("MS Sans Serif"), 8), parent)
{
    SetModalFrame(QStringLiteral("About Varden Pathlume"));
    SetClientSize(231, 55);

    auto* icon = new QLabel(this);
    icon->setGeometry(Dlu().Rect(11, 17, 20, 20));
    icon->setPixmap(QPixmap(QStringLiteral(":/icons/program-135-32.png")));
    icon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    SetControlId(icon, IDC_STATIC, QStringLiteral("Pathlume icon"));

    AddLabel(QStringLiteral("PATHLUME Version 1.0"), Qt::AlignLeft | Qt::AlignTop, 40, 10, 119, 8);
    AddLabel(QStringLiteral("Copyright (C) 2026 The Pathlume developers"),
             Qt::AlignLeft | Qt::AlignTop, 40, 25, 184, 8);

    QPushButton* ok = AddButton(IDOK, QStringLiteral("OK"), 174, 7, 50, 14);
    ok->setDefault(true);
    ok->setAutoDefault(true);
    connect(ok, &QPushButton::clicked, this, [this] { done(IDOK); });
}

CAboutDlg::~CAboutDlg() = default;
