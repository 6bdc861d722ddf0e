/* Identifiers of the resources compiled from upgrader.rc. Plain macros,
   because the resource compiler reads this file too. */
#ifndef MUB_WIN32_RESOURCE_IDS_H
#define MUB_WIN32_RESOURCE_IDS_H

/* The program icon: the first icon in the file, so Explorer shows it too. */
#define MUB_PROGRAM_ICON 1
/* The About window's picture. */
#define MUB_ABOUT_BANNER 100

#endif
