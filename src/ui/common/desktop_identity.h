#pragma once
// How the desktop recognises the running program: the name its launcher,
// icon, file type and software-centre entry all share, and the window icon.
#include <QIcon>

namespace qd {

inline constexpr char kDesktopId[] = "org.quindelle.quindelle";
// The application title. On X11 it is also the class half of every window's
// WM_CLASS, which the launcher's StartupWMClass must repeat for the desktop
// to group the windows with their launcher.
inline constexpr char kApplicationName[] = "Pellarin";

// The installed icon from the icon theme when there is one; otherwise the copy
// built into the program, so that a build that was never installed has it too.
QIcon ProgramIcon();

// Sets the application title, names the launcher for the application and
// gives every window the icon. Needs the application object, and must run
// before the first window is shown (the window system reads the class then).
void ApplyDesktopIdentity();

}  // namespace qd
