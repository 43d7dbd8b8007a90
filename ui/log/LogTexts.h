#pragma once

// The texts a log view and its find bar show, in UTF-8: French, the same on every platform.
// The model writes the rest (the count, "Introuvable", the notices, the save's progress).
struct TLogTexts {
  static constexpr const char* kCopy = "Copier";
  static constexpr const char* kSelectAll = "Tout sélectionner";
  static constexpr const char* kFind = "Rechercher...";
  static constexpr const char* kSave = "Enregistrer le journal...";
  static constexpr const char* kClear = "Effacer le journal";
  static constexpr const char* kFindPlaceholder = "Rechercher";
  static constexpr const char* kMatchCase = "Respecter la casse";
  static constexpr const char* kPrevious = "Précédent";
  static constexpr const char* kNext = "Suivant";
  static constexpr const char* kClose = "Fermer";
  static constexpr const char* kSaveTitle = "Enregistrer le journal";
  static constexpr const char* kTextFiles = "Texte";
  static constexpr const char* kAllFiles = "Tous les fichiers";
  // The view's name for screen readers.
  static constexpr const char* kName = "Journal";
};
