#pragma once

#include <string>

// Turns a PDF document into a PostScript one, page by page, keeping the drawing
// as vector operators. Qt 5 no longer writes PostScript itself, so the PDF that
// its printer produces goes through poppler onto a cairo PostScript surface.
//
// The interface uses standard strings only: its source includes poppler and
// GLib, whose headers name a member `signals`, and must stay free of Qt's
// keyword macros.
class ConvertisseurPostScript
{
public:
    // Converts the PDF file at cheminPdf (a local path) and puts the PostScript
    // text into postScript. With eps set, a one-page document is written as
    // Encapsulated PostScript. On failure returns false, leaves postScript empty
    // and describes the reason in erreur.
    static bool convertir(const std::string& cheminPdf, bool eps, std::string& postScript,
                          std::string& erreur);
};
