#include "Errors.h"

namespace ombrix {

EOutOfMemory::EOutOfMemory() : EOmbrixError("Mémoire insuffisante") {}

EDivByZero::EDivByZero() : EOmbrixError("Division par zéro") {}

EReadError::EReadError() : EOmbrixError("Erreur de lecture du flux") {}

EFCreateError::EFCreateError(const std::string& fileName)
    : EOmbrixError("Impossible de créer le fichier " + fileName) {}

EFOpenError::EFOpenError(const std::string& fileName)
    : EOmbrixError("Impossible d'ouvrir le fichier " + fileName) {}

EWriteError::EWriteError() : EOmbrixError("Erreur d'écriture du flux") {}

EListError::EListError(int64_t index)
    : EOmbrixError("Indice de liste hors limites (" + std::to_string(index) + ")") {}

EConvertError::EConvertError(const std::string& sourceName, const std::string& targetName)
    : EOmbrixError("Impossible d'affecter " + sourceName + " à " + targetName) {}

EJPEG::EJPEG(int code) : EOmbrixError("JPEG error #" + std::to_string(code)) {}

EPrinter::EPrinter() : EOmbrixError("Aucune imprimante par défaut sélectionnée") {}

}  // namespace ombrix
