#pragma once
// The application's error report: every handler that Qt calls runs through Guarded, so that a
// failure ends that handler, reaches the user as a message box with the error's own text, and
// never unwinds into Qt. Everything here runs on the GUI thread.

#include <exception>
#include <functional>
#include <new>
#include <string>

#include "Errors.h"

namespace ombrix {

// How an error text reaches the user; tests install one that records the texts.
using TErrorReporter = std::function<void(const std::string& text)>;

// Replaces the reporter and returns the previous one. An empty reporter restores the default:
// a modal message box titled with the application's name.
TErrorReporter SetErrorReporter(TErrorReporter reporter);

// Shows `text` through the current reporter. While one report is on screen, a further report
// (from a handler that runs inside the message box's own event loop, a timer tick for one) is
// dropped rather than stacked: the next failure after the box closes is shown again.
// Never throws: a reporter that fails is ignored.
void ShowErrorReport(const char* text) noexcept;

// Shows EOutOfMemory's text.
void ShowOutOfMemoryReport() noexcept;

// Runs `handler`; an exception it raises is reported and swallowed (our own errors with their
// reason below their text, when they carry one). Memory exhaustion from the standard library
// is reported with the same text as EOutOfMemory.
template <class Handler>
void Guarded(Handler&& handler) noexcept {
  try {
    handler();
  } catch (const std::bad_alloc&) {
    ShowOutOfMemoryReport();
  } catch (const EOmbrixError& e) {
    ShowErrorReport(e.ReportText());
  } catch (const std::exception& e) {
    ShowErrorReport(e.what());
  } catch (...) {
    ShowErrorReport("Erreur inconnue");
  }
}

}  // namespace ombrix
