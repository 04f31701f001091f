/* Numbers of the program's resources, shared by the resource script (zarnik_viewer.rc) and the
   C++ code. Plain #define lines only: the resource compiler reads this file too. */
#ifndef ZARNIK_VIEWER_RESOURCE_H
#define ZARNIK_VIEWER_RESOURCE_H

/* The settings dialog. */
#define IDD_SETTINGS 5

/* Icons: the program file's own 32x32 icon, and the four 16x16 tray pictures. The first tray
   picture is also the idle one; all four in order are the animation shown during an update. */
#define IDI_PROGRAM 111
#define IDI_FRAME1 112
#define IDI_FRAME2 113
#define IDI_FRAME3 114
#define IDI_FRAME4 115
#define IDI_TRAY_IDLE IDI_FRAME1

/* Controls of the settings dialog. */
#define IDC_OK 1001
#define IDC_CANCEL 1002
#define IDC_USERNAME 1003
#define IDC_PASSWORD 1004
#define IDC_AUTOSTART 1012
#define IDC_COPY_FEED_URL 1013

/* Controls that are never addressed (labels) carry no identifier. */
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#endif
