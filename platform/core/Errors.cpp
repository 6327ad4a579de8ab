#include "Errors.h"

#include <cstring>

namespace ombrix {

std::string SystemReason(int error) {
  char buffer[256] = {};
  // The GNU strerror_r returns its text, which need not be in buffer.
  return ::strerror_r(error, buffer, sizeof buffer);
}

EOutOfMemory::EOutOfMemory() : EOmbrixError("Mémoire insuffisante", "out of memory") {}

EDivByZero::EDivByZero() : EOmbrixError("Division par zéro", "division by zero") {}

EReadError::EReadError(const std::string& reason)
    : EOmbrixError("Erreur de lecture du flux", reason) {}

EFCreateError::EFCreateError(const std::string& fileName, const std::string& reason)
    : EOmbrixError("Impossible de créer le fichier " + fileName,
                   reason.empty() ? "the file cannot be created" : reason, reason) {}

EFOpenError::EFOpenError(const std::string& fileName, const std::string& reason)
    : EOmbrixError("Impossible d'ouvrir le fichier " + fileName,
                   reason.empty() ? "the file cannot be opened" : reason) {}

EWriteError::EWriteError(const std::string& reason, const std::string& fileName)
    : EOmbrixError(
          "Erreur d'écriture du flux", reason.empty() ? "the data could not be written" : reason,
          fileName.empty() || reason.empty() ? fileName + reason : fileName + ": " + reason) {}

EListError::EListError(int64_t index)
    : EOmbrixError("Indice de liste hors limites (" + std::to_string(index) + ")") {}

EConvertError::EConvertError(const std::string& sourceName, const std::string& targetName)
    : EOmbrixError("Impossible d'affecter " + sourceName + " à " + targetName) {}

EJPEG::EJPEG(int code, const std::string& message)
    : EOmbrixError("JPEG error #" + std::to_string(code), message) {}

EPrinter::EPrinter() : EOmbrixError("Aucune imprimante par défaut sélectionnée") {}

}  // namespace ombrix
