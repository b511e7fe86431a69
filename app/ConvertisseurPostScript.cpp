// This file must not include any Qt header: GLib and poppler declare members
// named `signals`, which Qt's keyword macro would rewrite.
#include "ConvertisseurPostScript.h"

#include <cairo-ps.h>
#include <cairo.h>
#include <poppler.h>

#include <memory>

namespace {

struct LibererGObject
{
    void operator()(gpointer objet) const { g_object_unref(objet); }
};
struct LibererErreur
{
    void operator()(GError* erreur) const { g_error_free(erreur); }
};
struct LibererTexte
{
    void operator()(gchar* texte) const { g_free(texte); }
};
struct LibererSurface
{
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
struct LibererContexte
{
    void operator()(cairo_t* contexte) const { cairo_destroy(contexte); }
};

using Document = std::unique_ptr<PopplerDocument, LibererGObject>;
using Page = std::unique_ptr<PopplerPage, LibererGObject>;
using Erreur = std::unique_ptr<GError, LibererErreur>;
using Texte = std::unique_ptr<gchar, LibererTexte>;
using Surface = std::unique_ptr<cairo_surface_t, LibererSurface>;
using Contexte = std::unique_ptr<cairo_t, LibererContexte>;

// Cairo hands the PostScript text over in pieces; they are gathered in memory
// so that the caller decides how the file is replaced.
cairo_status_t ajouterAuTexte(void* destination, const unsigned char* donnees, unsigned int taille)
{
    static_cast<std::string*>(destination)->append(reinterpret_cast<const char*>(donnees), taille);
    return CAIRO_STATUS_SUCCESS;
}

Document ouvrirPdf(const std::string& cheminPdf, std::string& erreur)
{
    GError* brute = nullptr;
    Texte uri(g_filename_to_uri(cheminPdf.c_str(), nullptr, &brute));
    if (!uri) {
        Erreur garde(brute);
        erreur = "g_filename_to_uri: " + std::string(brute->message);
        return nullptr;
    }
    Document document(poppler_document_new_from_file(uri.get(), nullptr, &brute));
    if (!document) {
        Erreur garde(brute);
        erreur = "poppler_document_new_from_file: " + std::string(brute->message);
    }
    return document;
}

} // namespace

bool ConvertisseurPostScript::convertir(const std::string& cheminPdf, bool eps,
                                        std::string& postScript, std::string& erreur)
{
    postScript.clear();
    const Document document = ouvrirPdf(cheminPdf, erreur);
    if (!document)
        return false;
    const int pages = poppler_document_get_n_pages(document.get());
    if (pages < 1) {
        erreur = "the PDF document has no page";
        return false;
    }

    // The surface starts with the first page's size; each page then sets its own.
    const Page premiere(poppler_document_get_page(document.get(), 0));
    if (!premiere) {
        erreur = "poppler_document_get_page failed for the first page";
        return false;
    }
    double largeur = 0.0;
    double hauteur = 0.0;
    poppler_page_get_size(premiere.get(), &largeur, &hauteur);
    std::string texte;
    const Surface surface(
        cairo_ps_surface_create_for_stream(ajouterAuTexte, &texte, largeur, hauteur));
    // An encapsulated document holds a single page by definition.
    if (eps && pages == 1)
        cairo_ps_surface_set_eps(surface.get(), 1);
    {
        const Contexte contexte(cairo_create(surface.get()));
        for (int numero = 0; numero < pages; ++numero) {
            const Page page(poppler_document_get_page(document.get(), numero));
            if (!page) {
                erreur = "poppler_document_get_page failed for page " + std::to_string(numero);
                return false;
            }
            poppler_page_get_size(page.get(), &largeur, &hauteur);
            cairo_ps_surface_set_size(surface.get(), largeur, hauteur);
            poppler_page_render_for_printing(page.get(), contexte.get());
            cairo_show_page(contexte.get());
        }
        if (cairo_status(contexte.get()) != CAIRO_STATUS_SUCCESS) {
            erreur = std::string("cairo: ") + cairo_status_to_string(cairo_status(contexte.get()));
            return false;
        }
    }
    cairo_surface_finish(surface.get());
    const cairo_status_t etat = cairo_surface_status(surface.get());
    if (etat != CAIRO_STATUS_SUCCESS) {
        erreur = std::string("cairo_surface_finish: ") + cairo_status_to_string(etat);
        return false;
    }
    postScript.swap(texte);
    return true;
}
