// Helpers shared by the windows: control identifiers, dialog units, the
// dialog fonts, string resources and the program's display name.
#pragma once

#include <QFont>
#include <QIcon>
#include <QRect>
#include <QString>
#include <QWidget>

// Every control carries its numeric ID as the dynamic property "controlId".
void SetControlId(QWidget* w, int id, const QString& accessibleName);
int ControlId(const QWidget* w);

// The child of parent with the given control ID, or nullptr.
QWidget* FindControl(const QWidget* parent, int id);
template <class T>
T* GetDlgItem(const QWidget* parent, int id)
{
    return qobject_cast<T*>(FindControl(parent, id));
}

// Dialog-unit conversion for a dialog font: a horizontal unit is a quarter of
// the average character width, a vertical unit an eighth of the height.
class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);
    int X(int dlu) const;
    int Y(int dlu) const;
    QRect Rect(int x, int y, int w, int h) const;

private:
    int baseX_;
    int baseY_;
};

// The named family at the given size, or the system UI font at that size
// where the family is not installed.
QFont DialogFont(const QString& family, int pointSize);

// Registers the bundled icons and images (they live in a static library,
// so they must be registered before first use). Safe to call more than once.
void InitResources();

// The program's icon at every size the desktop theme has (16 to 256 px), the
// 16 px image being the window's own small icon.
QIcon ProgramIcon();

// Texts of the string table.
QString LoadResString(int id);

// The program file's name without its extension; the title of every message box.
QString DisplayName();
