#pragma once
// How the desktop recognises the running program: the name its launcher,
// icon, file type and software-centre entry all share, and the window icon.
#include <QIcon>

namespace qd {

inline constexpr char kDesktopId[] = "org.quindelle.Quindelle";

// The installed icon from the icon theme when there is one; otherwise the copy
// built into the program, so that a build that was never installed has it too.
QIcon ProgramIcon();

// Names the launcher for the application and gives every window the icon.
// Needs the application object.
void ApplyDesktopIdentity();

}  // namespace qd
