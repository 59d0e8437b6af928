#include "platform/cairo/cairo_text.h"

#include <cairo-ft.h>
#include <fontconfig/fontconfig.h>
#include <pthread.h>

#include <chrono>
#include <cmath>
#include <exception>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <tuple>

#include "platform/posix/fork_generation.h"
#include "vstgui/platform/graphics.h"

namespace VSTGUI::platform::cairo {

namespace {

struct FaceDeleter {
    void operator()(cairo_font_face_t* f) const { cairo_font_face_destroy(f); }
};
struct PatternDeleter {
    void operator()(FcPattern* p) const { FcPatternDestroy(p); }
};
struct OptionsDeleter {
    void operator()(cairo_font_options_t* o) const { cairo_font_options_destroy(o); }
};
using FacePtr = std::unique_ptr<cairo_font_face_t, FaceDeleter>;
using PatternPtr = std::unique_ptr<FcPattern, PatternDeleter>;

// The face depends on family, size (bitmap faces are chosen by size), weight
// and slant; underline is drawn by us.
using FaceKey = std::tuple<std::string, int32_t, bool, bool>;

// What the set-up thread hands over: the face it resolved for the font an
// editor named.
struct Prepared {
    FaceKey key;
    FacePtr face;
};

FaceKey faceKey(const FontDesc& font) {
    return {font.face ? font.face : "Arial", font.pixelHeight, font.bold, font.italic};
}

struct FaceCache {
    std::mutex mutex;
    std::map<FaceKey, FacePtr> faces;
    // fontconfig's set-up under way on its own thread: `prepared` is ready
    // as soon as the thread's work is done (waited for before the first face
    // is resolved), `thread` when the thread has ended (waited for, at the
    // latest, when the library unloads).
    std::future<Prepared> prepared;
    std::future<void> thread;
    bool setUpStarted = false;
    uint32_t setUpGeneration = 0;  // the fork generation that has the thread
    ~FaceCache() {
        awaitSetUp();
        if (thread.valid() && setUpGeneration == posix::forkGeneration()) thread.get();
    }

    // Waits for the set-up and keeps the face it resolved, unless it was
    // started before this process was forked: the thread stayed with the
    // parent, and the futures are left as they are (destroying them would
    // wait too).
    void awaitSetUp() {
        if (!prepared.valid()) return;
        if (setUpGeneration == posix::forkGeneration()) {
            // A thread that failed (out of memory) leaves the face to the
            // first text, which then sets fontconfig up itself.
            try {
                Prepared done = prepared.get();
                if (done.face) faces.emplace(std::move(done.key), std::move(done.face));
            } catch (const std::exception&) {
            }
        } else {
            static_cast<void>(
                std::make_unique<std::future<Prepared>>(std::move(prepared)).release());
            static_cast<void>(std::make_unique<std::future<void>>(std::move(thread)).release());
        }
    }
};

const cairo_font_options_t* fixedOptions() {
    static const std::unique_ptr<cairo_font_options_t, OptionsDeleter> options([] {
        cairo_font_options_t* o = cairo_font_options_create();
        cairo_font_options_set_antialias(o, CAIRO_ANTIALIAS_GRAY);
        cairo_font_options_set_subpixel_order(o, CAIRO_SUBPIXEL_ORDER_DEFAULT);
        cairo_font_options_set_hint_style(o, CAIRO_HINT_STYLE_SLIGHT);
        cairo_font_options_set_hint_metrics(o, CAIRO_HINT_METRICS_ON);
        return o;
    }());
    return options.get();
}

FaceCache& faceCache() {
    // The options are made first: statics go in the reverse order of their
    // making, and the cache's destructor waits for the set-up thread, which
    // uses them.
    fixedOptions();
    static FaceCache cache;
    return cache;
}

// Resolves a family through fontconfig, then overrides the rendering
// settings a user's configuration may have put into the match, so that the
// pixels are the same on every machine.
FacePtr resolveFace(const FontDesc& font) {
    PatternPtr pattern(FcPatternCreate());
    if (!pattern)
        return FacePtr(cairo_toy_font_face_create("sans-serif", CAIRO_FONT_SLANT_NORMAL,
                                                  CAIRO_FONT_WEIGHT_NORMAL));
    FcPatternAddString(pattern.get(), FC_FAMILY,
                       reinterpret_cast<const FcChar8*>(font.face ? font.face : "Arial"));
    FcPatternAddDouble(pattern.get(), FC_PIXEL_SIZE, font.pixelHeight);
    FcPatternAddInteger(pattern.get(), FC_WEIGHT, font.bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pattern.get(), FC_SLANT, font.italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcConfigSubstitute(nullptr, pattern.get(), FcMatchPattern);
    FcDefaultSubstitute(pattern.get());

    FcResult result = FcResultNoMatch;
    PatternPtr match(FcFontMatch(nullptr, pattern.get(), &result));
    if (!match) {
        return FacePtr(cairo_toy_font_face_create("sans-serif", CAIRO_FONT_SLANT_NORMAL,
                                                  CAIRO_FONT_WEIGHT_NORMAL));
    }
    for (const char* key : {FC_ANTIALIAS, FC_HINTING, FC_HINT_STYLE, FC_AUTOHINT, FC_RGBA,
                            FC_LCD_FILTER, FC_EMBEDDED_BITMAP}) {
        FcPatternDel(match.get(), key);
    }
    FcPatternAddBool(match.get(), FC_ANTIALIAS, FcTrue);
    FcPatternAddBool(match.get(), FC_HINTING, FcTrue);
    FcPatternAddInteger(match.get(), FC_HINT_STYLE, FC_HINT_SLIGHT);
    FcPatternAddBool(match.get(), FC_AUTOHINT, FcFalse);
    FcPatternAddInteger(match.get(), FC_RGBA, FC_RGBA_NONE);
    // cairo keeps its own reference to the pattern.
    return FacePtr(cairo_ft_font_face_create_for_pattern(match.get()));
}

// fontconfig's set-up, then the face of `font` with the glyphs of
// `sample` measured once, so that FreeType has the face open and its hinter
// has looked at it before the first text is drawn. Nothing is drawn here:
// the glyphs' images are made by the thread that draws.
Prepared prepareFace(const FontDesc& font, const std::string& sample) {
    FcInit();
    Prepared done{faceKey(font), resolveFace(font)};
    const double em = font.pixelHeight > 0 ? font.pixelHeight : 1;
    cairo_matrix_t size, identity;
    cairo_matrix_init_scale(&size, em, em);
    cairo_matrix_init_identity(&identity);
    cairo_scaled_font_t* scaled =
        cairo_scaled_font_create(done.face.get(), &size, &identity, fixedOptions());
    cairo_text_extents_t extents{};
    cairo_scaled_font_text_extents(scaled, sample.c_str(), &extents);
    cairo_scaled_font_destroy(scaled);
    return done;
}

}  // namespace

cairo_font_face_t* fontFace(const FontDesc& font) {
    FaceCache& cache = faceCache();
    const FaceKey key = faceKey(font);
    std::lock_guard lock(cache.mutex);
    cache.awaitSetUp();
    auto it = cache.faces.find(key);
    if (it == cache.faces.end()) it = cache.faces.emplace(key, resolveFace(font)).first;
    return it->second.get();
}

bool fontSetUpFinished() {
    FaceCache& cache = faceCache();
    std::lock_guard lock(cache.mutex);
    if (!cache.prepared.valid()) return cache.setUpStarted;
    return cache.prepared.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

void selectFont(cairo_t* cr, const FontDesc& font) {
    cairo_set_font_face(cr, fontFace(font));
    cairo_set_font_size(cr, font.pixelHeight > 0 ? font.pixelHeight : 1);
    cairo_set_font_options(cr, fixedOptions());
}

namespace {

// Length of the well-formed UTF-8 sequence at s[i], or 0 when it is not one
// (truncated, overlong, a surrogate or beyond U+10FFFF).
size_t utf8SequenceLength(const std::string& s, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[i + k]); };
    const unsigned char c = byte(0);
    if (c < 0x80) return 1;
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        if (c == 0xE0) low = 0xA0;
        if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        if (c == 0xF0) low = 0x90;
        if (c == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (i + length > s.size()) return 0;
    if (byte(1) < low || byte(1) > high) return 0;
    for (size_t k = 2; k < length; ++k) {
        if ((byte(k) & 0xC0) != 0x80) return 0;
    }
    return length;
}

}  // namespace

std::string toUtf8(const char* text) {
    std::string in(text ? text : "");
    bool valid = true;
    for (size_t i = 0; i < in.size();) {
        const size_t n = utf8SequenceLength(in, i);
        if (n == 0) {
            valid = false;
            break;
        }
        i += n;
    }
    if (valid) return in;
    std::string out;
    out.reserve(in.size() * 2);
    for (const char ch : in) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out.push_back(ch);
        } else {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

TextLayout layoutText(cairo_t* cr, const std::string& utf8, const CRect& r, TextAlign align) {
    cairo_font_extents_t fe{};
    cairo_font_extents(cr, &fe);
    cairo_text_extents_t te{};
    cairo_text_extents(cr, utf8.c_str(), &te);

    TextLayout t;
    const auto ascent = static_cast<int32_t>(std::lround(fe.ascent));
    const auto descent = static_cast<int32_t>(std::lround(fe.descent));
    t.height = ascent + descent;
    t.width = static_cast<int32_t>(std::lround(te.x_advance));
    t.top = r.top + (r.height() - t.height) / 2;
    t.baseline = t.top + ascent;
    switch (align) {
        case TextAlign::center:
            t.x = r.left + (r.width() - t.width) / 2;
            break;
        case TextAlign::right:
            t.x = r.right - t.width;
            break;
        default:
            t.x = r.left;
            break;
    }
    return t;
}

}  // namespace VSTGUI::platform::cairo

namespace VSTGUI::platform::cairo {
namespace {

// A fork while the set-up thread holds one of fontconfig's or cairo's locks
// would give the child a lock that no thread of its own will release: its
// first text would wait forever. So a fork waits until the set-up is done (a
// few milliseconds, once per process, and only once an editor has opened),
// and holds the cache's lock across the fork so that the child gets it free.
// It also waits for the thread to end, which joins it: the child then holds
// no thread of ours that it could neither join nor leave unjoined.
void waitForSetUpBeforeFork() {
    FaceCache& cache = faceCache();
    cache.mutex.lock();
    if (cache.setUpGeneration != posix::forkGeneration()) return;
    if (cache.prepared.valid()) cache.prepared.wait();
    if (cache.thread.valid()) cache.thread.wait();
}

void releaseAfterFork() {
    faceCache().mutex.unlock();
}

}  // namespace
}  // namespace VSTGUI::platform::cairo

namespace VSTGUI::platform {

void prepareFonts(const FontDesc& font, const char* sample) {
    cairo::FaceCache& cache = cairo::faceCache();
    std::lock_guard lock(cache.mutex);
    if (cache.setUpStarted) return;
    cache.setUpStarted = true;
    cache.setUpGeneration = posix::forkGeneration();
    // glibc drops the handlers when the library is unloaded.
    pthread_atfork(&cairo::waitForSetUpBeforeFork, &cairo::releaseAfterFork,
                   &cairo::releaseAfterFork);
    try {
        auto work = std::make_shared<std::promise<cairo::Prepared>>();
        cache.prepared = work->get_future();
        // The names are copied: the caller's strings need not outlive it.
        cache.thread = std::async(
            std::launch::async, [work, font, family = std::string(font.face ? font.face : "Arial"),
                                 text = std::string(sample ? sample : "")] {
                FontDesc named = font;
                named.face = family.c_str();
                // Out of memory here breaks the promise: the first text
                // then resolves its face itself. Nothing may escape into
                // the future that the library's unloading waits on.
                try {
                    work->set_value(cairo::prepareFace(named, text));
                } catch (...) {
                }
            });
    } catch (const std::exception&) {
        // No thread to be had: the first text sets fontconfig up itself.
        cache.prepared = {};
    }
}

}  // namespace VSTGUI::platform
