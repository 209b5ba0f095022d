#include "platform/pdf/pdf_page_cost.h"

// Object.h first: Poppler's object headers complete each other's types only
// in that order.
#include <Object.h>

#include <Array.h>
#include <Dict.h>
#include <GfxState.h>
#include <Page.h>
#include <Parser.h>
#include <Stream.h>
#include <XRef.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <set>
#include <span>
#include <vector>

#include "platform/pdf/codec_header.h"

namespace brindlewox {

namespace {

// How deep forms inside forms (or patterns, glyphs, masks) are followed: far
// deeper than real pages nest them; the bound keeps a crafted chain off the
// stack's end.
constexpr int kNesting = 100;

// An inline image's dictionary has a dozen entries at most.
constexpr int kInlineEntries = 64;

bool isImageCodec(StreamKind kind) {
  return kind == strDCT || kind == strJPX || kind == strJBIG2 || kind == strCCITTFax;
}

// A filter chain with an image codec anywhere in it.
bool hasImageCodec(Stream* stream) {
  for (Stream* s = stream; s != nullptr; s = s->getNextStream()) {
    if (isImageCodec(s->getKind())) return true;
  }
  return false;
}

bool isDelimiter(char c) {
  switch (c) {
    case ' ':
    case '\t':
    case '\r':
    case '\n':
    case '\f':
    case '\0':
    case '(':
    case ')':
    case '<':
    case '>':
    case '[':
    case ']':
    case '{':
    case '}':
    case '/':
    case '%':
      return true;
    default:
      return false;
  }
}

std::int64_t positiveInt(Dict* dict, const char* name, const char* abbreviation) {
  Object value = dict->lookup(name);
  if (value.isNull() && abbreviation != nullptr) value = dict->lookup(abbreviation);
  return value.isInt() && value.getInt() > 0 ? value.getInt() : 0;
}

double number(const Object& value, double otherwise) {
  return value.isNum() ? value.getNum() : otherwise;
}

// The area of a [x1 y1 x2 y2] rectangle; 0 for anything else.
double rectangleArea(const Object& rectangle) {
  if (!rectangle.isArray() || rectangle.arrayGetLength() != 4) return 0;
  double v[4];
  for (int i = 0; i < 4; ++i) v[i] = number(rectangle.arrayGet(i), 0);
  const double area = std::fabs((v[2] - v[0]) * (v[3] - v[1]));
  return std::isfinite(area) ? area : 0;
}

std::int64_t saturated(std::uint64_t value) {
  return value > static_cast<std::uint64_t>(INT64_MAX) ? INT64_MAX
                                                       : static_cast<std::int64_t>(value);
}

class PageWalk {
 public:
  PageWalk(XRef* xref, std::chrono::steady_clock::time_point end) : xref_(xref), end_(end) {}

  PageCost page(Page* page) {
    const PDFRectangle* media = page->getMediaBox();
    pageArea_ = std::fabs((media->x2 - media->x1) * (media->y2 - media->y1));
    // The content streams of a page are parsed as one.
    std::vector<char> content;
    const Object contents = page->getContents();
    if (contents.isArray()) {
      for (int i = 0; i < contents.arrayGetLength() && !stopped(); ++i)
        parsedContent(contents.arrayGet(i), content);
    } else {
      parsedContent(contents, content);
    }
    inlineImages(content, 0);
    content = {};
    resources(*page->getResourceDictObject(), 0);
    const Object annotations = page->getAnnotsObject();
    double drawnAreas = 0;
    for (int i = 0; annotations.isArray() && i < annotations.arrayGetLength() && !stopped(); ++i) {
      const Object annotation = annotations.arrayGet(i);
      if (!annotation.isDict()) continue;
      const Object appearance = annotation.dictLookup("AP");
      if (!appearance.isDict()) continue;
      // Every annotation is drawn, even one whose appearance was walked
      // already; its share is its rectangle's, at most the page.
      drawnAreas += pageArea_ > 0
                        ? std::min(1.0, rectangleArea(annotation.dictLookup("Rect")) / pageArea_)
                        : 1.0;
      note(cost_.annotationAreas, static_cast<std::int64_t>(std::ceil(drawnAreas)),
           kAnnotationAreaLimit, "annotation areas");
      if (stopped()) break;
      const Object normal = appearance.dictLookup("N");
      if (normal.isStream()) {
        contentStream(normal, 0);
      } else {
        eachEntry(normal, [&](const Object& state) { contentStream(state, 0); });
      }
    }
    return cost_;
  }

 private:
  bool stopped() {
    if (cost_.refusal == nullptr && std::chrono::steady_clock::now() > end_) cost_.refusal = "time";
    return cost_.refusal != nullptr;
  }
  void refuse(const char* why) {
    if (cost_.refusal == nullptr) cost_.refusal = why;
  }

  // True the first time an indirect object is met; direct objects every time.
  bool firstVisit(const Object& maybeReference) {
    return !maybeReference.isRef() || seen_.insert(maybeReference.getRef()).second;
  }

  // The entry of `dict`, or null when it is an object already walked.
  Object once(Dict* dict, const char* key) {
    const Object& reference = dict->lookupNF(key);
    if (!firstVisit(reference)) return Object(objNull);
    return reference.fetch(xref_);
  }

  template <typename Visit>
  void eachEntry(const Object& dict, Visit visit) {
    for (int i = 0; dict.isDict() && i < dict.dictGetLength() && !stopped(); ++i) {
      if (!firstVisit(dict.dictGetValNF(i))) continue;
      visit(dict.dictGetVal(i));
    }
  }

  template <typename Visit>
  void eachElement(const Object& array, Visit visit) {
    for (int i = 0; array.isArray() && i < array.arrayGetLength() && !stopped(); ++i) {
      if (!firstVisit(array.arrayGetNF(i))) continue;
      visit(array.arrayGet(i));
    }
  }

  // Reads a stream to its end, appending to `into` when given, adding its
  // length to `used`; false once `used` passes `limit` or the time runs out.
  bool drain(Stream* stream, std::int64_t& used, std::int64_t limit, std::vector<char>* into) {
    stream->reset();
    std::vector<unsigned char> buffer(std::size_t{1} << 16);
    int read = 0;
    bool within = true;
    while ((read = stream->doGetChars(static_cast<int>(buffer.size()), buffer.data())) > 0) {
      used += read;
      if (used > limit || stopped()) {
        within = false;
        break;
      }
      if (into != nullptr) into->insert(into->end(), buffer.begin(), buffer.begin() + read);
    }
    stream->close();
    return within;
  }

  // Content parsed as operators. An image codec's output is never operators:
  // such a stream is malformed on its face and is refused undecoded, as its
  // decoder might spend gigabytes before the first byte.
  void parsedContent(const Object& stream, std::vector<char>& into) {
    if (!stream.isStream() || stopped()) return;
    if (hasImageCodec(stream.getStream())) {
      refuse("image codec on content");
      return;
    }
    if (!drain(stream.getStream(), cost_.contentBytes, kPageContentLimit, &into) &&
        cost_.refusal == nullptr) {
      refuse("content bytes");
    }
  }

  void xObject(const Object& object, int depth) {
    if (!object.isStream()) return;
    const Object subtype = object.streamGetDict()->lookup("Subtype");
    if (subtype.isName("Image")) {
      image(object.streamGetDict(), object.getStream(), depth);
    } else if (subtype.isName("Form")) {
      contentStream(object, depth);
    }
  }

  // A form, tiling pattern, glyph, soft mask group or appearance: its
  // content, the inline images in it, and the resources it names.
  void contentStream(const Object& stream, int depth) {
    if (!stream.isStream() || depth > kNesting || stopped()) return;
    Dict* dict = stream.streamGetDict();
    std::vector<char> content;
    parsedContent(stream, content);
    inlineImages(content, depth);
    content = {};
    // Forms often share one resource dictionary: it is walked once.
    resources(once(dict, "Resources"), depth + 1);
  }

  // Every place in the content where an inline image could begin (the
  // operator BI as a token of its own) is read as one: a dictionary up to ID,
  // then the rest of the content as its data. Looking everywhere rather than
  // lexing the content as the drawing will keeps strings and image data that
  // hide a BI from the one from hiding it from the other.
  void inlineImages(const std::vector<char>& content, int depth) {
    const std::size_t size = content.size();
    for (std::size_t at = 0; at + 1 < size; ++at) {
      if (content[at] != 'B' || content[at + 1] != 'I') continue;
      if (at > 0 && !isDelimiter(content[at - 1])) continue;
      if (at + 2 < size && !isDelimiter(content[at + 2])) continue;
      if (stopped()) return;
      Object source(static_cast<Stream*>(new MemStream(content.data(), static_cast<Goffset>(at + 2),
                                                       static_cast<Goffset>(size - at - 2),
                                                       Object(objNull))));
      Parser parser(xref_, &source, false);
      Object dict(new Dict(xref_));
      bool data = false;
      for (int entry = 0; entry < kInlineEntries; ++entry) {
        Object key = parser.getObj();
        if (key.isCmd("ID")) {
          data = true;
          break;
        }
        if (!key.isName()) break;
        Object value = parser.getObj();
        if (value.isCmd() || value.isEOF() || value.isError()) break;
        dict.dictAdd(key.getName(), std::move(value));
      }
      if (!data) continue;
      const Goffset start = parser.getStream()->getPos();
      if (start < 0 || static_cast<std::size_t>(start) > size) continue;
      const std::span<const char> raw(content.data() + start,
                                      size - static_cast<std::size_t>(start));
      std::unique_ptr<Stream> imageData(
          new MemStream(content.data(), start, static_cast<Goffset>(raw.size()), dict.copy()));
      imageData.reset(
          imageData.release()->addFilters(dict.getDict()));  // each filter owns the stream below
      image(dict.getDict(), imageData.get(), depth, raw);
    }
  }

  void resources(const Object& dict, int depth) {
    if (!dict.isDict() || depth > kNesting || stopped()) return;
    Dict* d = dict.getDict();
    eachEntry(once(d, "XObject"), [&](const Object& x) { xObject(x, depth); });
    eachEntry(once(d, "Pattern"), [&](const Object& p) { pattern(p, depth); });
    eachEntry(once(d, "Shading"), [&](const Object& s) { shading(s, depth); });
    eachEntry(once(d, "ExtGState"), [&](const Object& g) { graphicsState(g, depth); });
    eachEntry(once(d, "Font"), [&](const Object& f) { font(f, depth); });
    eachEntry(once(d, "ColorSpace"), [&](const Object& c) { colourSpace(c, depth); });
  }

  void pattern(const Object& pattern, int depth) {
    if (pattern.isStream()) {  // tiling: content of its own, drawn in cells
      tilingCells(pattern.streamGetDict());
      contentStream(pattern, depth + 1);
    } else if (pattern.isDict()) {  // shading pattern
      shading(once(pattern.getDict(), "Shading"), depth + 1);
      graphicsState(once(pattern.getDict(), "ExtGState"), depth + 1);
    }
  }

  // The pattern's cells over the page: its steps as its matrix maps them
  // into the page's space (the space of a form that uses it is not known
  // here; real forms keep the scale near one).
  void tilingCells(Dict* dict) {
    const double xStep = number(dict->lookup("XStep"), 0);
    const double yStep = number(dict->lookup("YStep"), 0);
    double m[4] = {1, 0, 0, 1};
    const Object matrix = dict->lookup("Matrix");
    for (int i = 0; matrix.isArray() && matrix.arrayGetLength() == 6 && i < 4; ++i) {
      m[i] = number(matrix.arrayGet(i), m[i]);
    }
    const double cell = std::fabs(xStep * yStep * (m[0] * m[3] - m[1] * m[2]));
    const double cells = pageArea_ / cell;
    note(cost_.tilingCells,
         cells < static_cast<double>(INT64_MAX) ? static_cast<std::int64_t>(cells) : INT64_MAX,
         kTilingCellLimit, "tiling cells");
  }

  void shading(const Object& shading, int depth) {
    if (depth > kNesting || stopped()) return;
    Dict* dict = shading.isStream() ? shading.streamGetDict()
                 : shading.isDict() ? shading.getDict()
                                    : nullptr;
    if (dict == nullptr) return;
    colourSpace(once(dict, "ColorSpace"), depth + 1);
    function(once(dict, "Function"), depth + 1);
    if (shading.isStream()) {  // mesh shadings are read whole, and kept far larger
      wholeData(shading);
      mesh(dict);
    }
  }

  // What Poppler keeps of a mesh shading: each vertex or patch as a struct of
  // doubles, counted from the fewest bits the stream can spend on one (a
  // continued patch: a flag, its new points and two colours, one component
  // each as with a function).
  void mesh(Dict* dict) {
    const std::int64_t type = positiveInt(dict, "ShadingType", nullptr);
    const std::uint64_t coordinate =
        static_cast<std::uint64_t>(positiveInt(dict, "BitsPerCoordinate", nullptr));
    const std::uint64_t component =
        static_cast<std::uint64_t>(positiveInt(dict, "BitsPerComponent", nullptr));
    const std::uint64_t flag =
        type == 5 ? 0 : static_cast<std::uint64_t>(positiveInt(dict, "BitsPerFlag", nullptr));
    std::uint64_t bits = 0;
    std::uint64_t kept = 0;
    switch (type) {
      case 4:
      case 5:  // a vertex, and about one triangle's three indices
        bits = flag + 2 * coordinate + component;
        kept = sizeof(GfxGouraudVertex) + 3 * sizeof(int);
        break;
      case 6:
        bits = flag + 16 * coordinate + 2 * component;
        kept = sizeof(GfxPatch);
        break;
      case 7:
        bits = flag + 24 * coordinate + 2 * component;
        kept = sizeof(GfxPatch);
        break;
      default:
        return;
    }
    if (bits == 0) bits = 1;
    const std::uint64_t elements = static_cast<std::uint64_t>(lastStreamBytes_) * 8 / bits;
    note(cost_.meshMemory, saturated(elements * kept), kMeshMemoryLimit, "mesh memory");
  }

  void graphicsState(const Object& state, int depth) {
    if (!state.isDict() || depth > kNesting || stopped()) return;
    const Object mask = once(state.getDict(), "SMask");
    if (mask.isDict()) {
      contentStream(once(mask.getDict(), "G"), depth + 1);
      function(once(mask.getDict(), "TR"), depth + 1);
    }
    function(once(state.getDict(), "TR"), depth + 1);
    function(once(state.getDict(), "TR2"), depth + 1);
    const Object font = state.dictLookup("Font");
    if (font.isArray() && font.arrayGetLength() > 0 && firstVisit(font.arrayGetNF(0))) {
      this->font(font.arrayGet(0), depth + 1);
    }
  }

  void font(const Object& font, int depth) {
    if (!font.isDict() || depth > kNesting || stopped()) return;
    Dict* dict = font.getDict();
    const Object subtype = dict->lookup("Subtype");
    if (subtype.isName("Type3")) {
      eachEntry(dict->lookup("CharProcs"),
                [&](const Object& glyph) { contentStream(glyph, depth + 1); });
      resources(once(dict, "Resources"), depth + 1);
      return;
    }
    if (subtype.isName("Type0")) {
      eachElement(dict->lookup("DescendantFonts"),
                  [&](const Object& descendant) { this->font(descendant, depth + 1); });
    }
    for (const char* map : {"ToUnicode", "Encoding", "CIDToGIDMap"}) {
      const Object stream = once(dict, map);
      if (stream.isStream()) wholeData(stream);
    }
    const Object descriptor = once(dict, "FontDescriptor");
    if (!descriptor.isDict()) return;
    for (const char* file : {"FontFile", "FontFile2", "FontFile3"}) {
      const Object stream = once(descriptor.getDict(), file);
      if (stream.isStream()) wholeData(stream);
    }
  }

  void colourSpace(const Object& space, int depth) {
    if (!space.isArray() || space.arrayGetLength() < 2 || depth > kNesting || stopped()) return;
    const Object family = space.arrayGet(0);
    auto element = [&](int i) {
      if (i >= space.arrayGetLength() || !firstVisit(space.arrayGetNF(i))) return Object(objNull);
      return space.arrayGet(i);
    };
    if (family.isName("ICCBased")) {
      const Object profile = element(1);
      if (profile.isStream()) wholeData(profile);
    } else if (family.isName("Indexed") || family.isName("I")) {
      colourSpace(element(1), depth + 1);
      const Object lookup = element(3);
      if (lookup.isStream()) wholeData(lookup);
    } else if (family.isName("Separation") || family.isName("DeviceN")) {
      colourSpace(element(2), depth + 1);
      function(element(3), depth + 1);
      // A DeviceN's attributes name a colour space for each colorant and for
      // its process colours; drawing parses all of them.
      const Object attributes = element(4);
      if (attributes.isDict()) {
        eachEntry(once(attributes.getDict(), "Colorants"),
                  [&](const Object& c) { colourSpace(c, depth + 1); });
        const Object process = once(attributes.getDict(), "Process");
        if (process.isDict()) colourSpace(once(process.getDict(), "ColorSpace"), depth + 1);
      }
    } else if (family.isName("Pattern")) {
      colourSpace(element(1), depth + 1);
    }
  }

  void function(const Object& fn, int depth) {
    if (depth > kNesting || stopped()) return;
    if (fn.isArray()) {
      eachElement(fn, [&](const Object& f) { function(f, depth + 1); });
      return;
    }
    Dict* dict = fn.isStream() ? fn.streamGetDict() : fn.isDict() ? fn.getDict() : nullptr;
    if (dict == nullptr) return;
    const Object type = dict->lookup("FunctionType");
    if (!type.isInt()) return;
    if (type.getInt() == 0) {  // sampled: a table of the declared size, held as doubles
      const Object size = dict->lookup("Size");
      const Object range = dict->lookup("Range");
      std::uint64_t samples =
          range.isArray() ? static_cast<std::uint64_t>(range.arrayGetLength() / 2) : 0;
      for (int i = 0; size.isArray() && i < size.arrayGetLength(); ++i) {
        const Object side = size.arrayGet(i);
        const std::uint64_t n =
            side.isInt() && side.getInt() > 0 ? static_cast<std::uint64_t>(side.getInt()) : 0;
        samples = n != 0 && samples > UINT64_MAX / n ? UINT64_MAX : samples * n;
      }
      cost_.functionSamples = std::max(cost_.functionSamples, saturated(samples));
      if (cost_.functionSamples > kFunctionSampleLimit) refuse("function samples");
    } else if (type.getInt() == 3) {  // stitching
      function(dict->lookup("Functions"), depth + 1);
    } else if (type.getInt() == 4 && fn.isStream()) {  // a calculator program, parsed whole
      std::vector<char> program;
      wholeData(fn, &program);
      note(cost_.calculatorTokens, tokens(program), kCalculatorTokenLimit, "calculator tokens");
    }
  }

  // A stream that drawing reads into memory in one piece (kept in `into`
  // when given); its length is left in lastStreamBytes_.
  void wholeData(const Object& stream, std::vector<char>* into = nullptr) {
    lastStreamBytes_ = 0;
    if (!stream.isStream() || stopped()) return;
    if (hasImageCodec(stream.getStream())) {
      refuse("image codec on data");
      return;
    }
    const std::int64_t before = cost_.wholeDataBytes;
    if (!drain(stream.getStream(), cost_.wholeDataBytes, kPageWholeDataLimit, into))
      refuse("whole data bytes");
    lastStreamBytes_ = cost_.wholeDataBytes - before;
  }

  // Numbers, operators and braces of a calculator program.
  static std::int64_t tokens(const std::vector<char>& program) {
    std::int64_t count = 0;
    bool inToken = false;
    for (const char c : program) {
      const bool brace = c == '{' || c == '}';
      const bool space = c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\0';
      if (brace) ++count;
      if (!brace && !space && !inToken) ++count;
      inToken = !brace && !space;
    }
    return count;
  }

  // One image (an XObject, an inline image, a mask): its declared size, and
  // for each image codec in its filters, what that codec's own headers say.
  // An inline image's `raw` data is the rest of its content, read in place
  // where a codec takes it unfiltered.
  void image(Dict* dict, Stream* stream, int depth, std::span<const char> raw = {}) {
    if (depth > kNesting || stopped()) return;
    const std::int64_t width = positiveInt(dict, "Width", "W");
    const std::int64_t height = positiveInt(dict, "Height", "H");
    note(cost_.imagePixels,
         saturated(static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height)),
         kImagePixelLimit, "image pixels");
    int fromTop = 0;
    for (Stream* filter = stream; filter != nullptr && !stopped();
         filter = filter->getNextStream(), ++fromTop) {
      if (!isImageCodec(filter->getKind())) continue;
      // A codec's input is measured by reading it: under another image codec
      // that would decode the lower one in full, which is what is measured
      // for. No real image is coded twice.
      if (hasImageCodec(filter->getNextStream())) {
        refuse("image codec under image codec");
        return;
      }
      codec(filter, filterParameters(dict, fromTop), width, height, raw);
    }
    Object space = dict->lookup("ColorSpace");
    if (space.isNull()) space = dict->lookup("CS");
    colourSpace(space, depth + 1);
    for (const char* mask : {"SMask", "Mask"}) {
      const Object maskImage = once(dict, mask);
      if (maskImage.isStream()) image(maskImage.streamGetDict(), maskImage.getStream(), depth + 1);
    }
  }

  // The decode parameters of the filter `fromTop` places below the last one,
  // as Poppler pairs them: a lone filter takes a dictionary, a list of
  // filters the list's entry in the same place.
  Object filterParameters(Dict* dict, int fromTop) {
    Object filters = dict->lookup("Filter");
    if (filters.isNull()) filters = dict->lookup("F");
    Object parameters = dict->lookup("DecodeParms");
    if (parameters.isNull()) parameters = dict->lookup("DP");
    if (filters.isName())
      return fromTop == 0 && parameters.isDict() ? std::move(parameters) : Object(objNull);
    const int index = filters.isArray() ? filters.arrayGetLength() - 1 - fromTop : -1;
    if (!parameters.isArray() || index < 0 || index >= parameters.arrayGetLength())
      return Object(objNull);
    Object entry = parameters.arrayGet(index);
    return entry.isDict() ? std::move(entry) : Object(objNull);
  }

  void codec(Stream* filter, const Object& parameters, std::int64_t width, std::int64_t height,
             std::span<const char> raw) {
    if (filter->getKind() == strCCITTFax) {
      // Streams a row at a time; its rows are as wide as it says.
      constexpr std::int64_t kFaxDefaultColumns = 1728;
      const Object columns =
          parameters.isDict() ? parameters.dictLookup("Columns") : Object(objNull);
      note(cost_.faxColumns, columns.isInt() ? columns.getInt() : kFaxDefaultColumns,
           kFaxColumnLimit, "fax columns");
      return;
    }
    std::int64_t inputBytes = 0;
    std::vector<char> input;
    std::vector<char> globals;
    Stream* encoded = filter->getNextStream();
    bool within = true;
    if (!raw.empty() && encoded != nullptr && encoded->getNextStream() == nullptr) {
      inputBytes = static_cast<std::int64_t>(raw.size());
    } else if (encoded != nullptr) {
      within = drain(encoded, inputBytes, kCodecInputLimit, &input);
      raw = input;
    }
    if (within && filter->getKind() == strJBIG2 && parameters.isDict()) {
      const Object globalSegments = parameters.dictLookup("JBIG2Globals");
      if (globalSegments.isStream() && hasImageCodec(globalSegments.getStream())) {
        refuse("image codec under image codec");
        return;
      }
      if (globalSegments.isStream())
        within = drain(globalSegments.getStream(), inputBytes, kCodecInputLimit, &globals);
    }
    note(cost_.codecInputBytes, inputBytes, kCodecInputLimit, "codec input bytes");
    if (!within || stopped()) return;
    const auto bytes = [](std::span<const char> v) {
      return std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(v.data()),
                                           v.size());
    };
    CodecCost decoded;
    switch (filter->getKind()) {
      case strDCT:
        decoded = jpegCost(bytes(raw), static_cast<std::uint64_t>(width),
                           static_cast<std::uint64_t>(height));
        break;
      case strJPX:
        decoded = jpxCost(bytes(raw));
        break;
      default:
        decoded = jbig2Cost(bytes(globals), bytes(raw));
        break;
    }
    if (!decoded.known) {
      refuse("codec extent unknown");
      return;
    }
    note(cost_.imagePixels, saturated(decoded.pixels), kImagePixelLimit, "image pixels");
    note(cost_.decoderMemory, saturated(decoded.memory), kDecoderMemoryLimit, "decoder memory");
    note(cost_.sampleVisits, saturated(decoded.sampleVisits), kSampleVisitLimit, "sample visits");
  }

  // Keeps the largest figure, and refuses past the bound.
  void note(std::int64_t& largest, std::int64_t figure, std::int64_t limit, const char* what) {
    largest = std::max(largest, figure);
    if (figure > limit) refuse(what);
  }

  XRef* xref_;
  std::chrono::steady_clock::time_point end_;
  double pageArea_ = 0;
  std::set<Ref> seen_;
  std::int64_t lastStreamBytes_ = 0;
  PageCost cost_;
};

}  // namespace

PageCost measurePageCost(Page* page, XRef* xref, std::chrono::steady_clock::time_point end) {
  return PageWalk(xref, end).page(page);
}

}  // namespace brindlewox
