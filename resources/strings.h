// The program's user-visible texts: one source for the .rc string table and the
// simulation's LoadStringA. Bytes are code page 1252, written as octal escapes so that
// both the C++ compiler and windres read the same bytes whatever the source encoding.
#ifndef UNINST_RESOURCES_STRINGS_H
#define UNINST_RESOURCES_STRINGS_H

// clang-format off
#define IDS_CONFIRM_CAPTION 1
#define IDS_CONFIRM_TEXT 2
#define IDS_VERDICT_CAPTION 3
#define IDS_CONFIGURED_TEXT 5
#define IDS_CONNECTED_TEXT 6
#define IDS_RESTART_CAPTION 7
#define IDS_RESTART_TEXT 8

#define STR_CONFIRM_CAPTION "Suppression de pilote USB"
#define STR_CONFIRM_TEXT "Tous les fichiers et registres associ\351s \340 l'imprimante USB Talvo seront supprim\351s.  \312tes-vous s\373r de vouloir ex\351cuter la d\351sinstallation ?"
#define STR_VERDICT_CAPTION "Confirmation"
#define STR_CONFIGURED_TEXT "Le dossier [Imprimante] contient une imprimante USB Talvo qui n'a pas \351t\351 supprim\351e.  Voulez-vous annuler la d\351sinstallation ?  Cliquez sur [Non] pour ex\351cuter la d\351sinstallation.  Notez que si la d\351sinstallation est ex\351cut\351e, l'imprimante USB Talvo risque de ne pas fonctionner correctement."
#define STR_CONNECTED_TEXT "Impossible d'ex\351cuter la d\351sinstallation, car l'imprimante USB Talvo est connect\351e.  D\351connectez le c\342ble USB."
#define STR_RESTART_CAPTION "Red\351marrer"
#define STR_RESTART_TEXT "Vous devez red\351marrer Windows pour terminer la d\351sinstallation. Voulez-vous red\351marrer Windows maintenant ?  Cliquez sur [Non] pour red\351marrer Windows plus tard."
// clang-format on

#endif
