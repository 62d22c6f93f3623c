#include "operations.h"

#include "files.h"
#include "pixels.h"

#include <cstdio>

namespace kolvex::cli {

namespace {

// `--field` keeps the field the library keeps of an interlaced frame (which
// of the picture's fields that is depends on the parity of the height);
// --field=even and --field=odd name picture rows counted from the top.
enum class FieldChoice { None, Library, Even, Odd };

FieldChoice ParseField(const Args& args) {
  if (const std::string* v = args.Value("--field")) {
    if (*v == "even") return FieldChoice::Even;
    if (*v == "odd") return FieldChoice::Odd;
    throw UsageError("--field=" + *v + ": expected --field, --field=even or --field=odd");
  }
  return args.Has("--field") ? FieldChoice::Library : FieldChoice::None;
}

Field PictureField(FieldChoice choice, int height) {
  switch (choice) {
    case FieldChoice::Even:
      return Field::Even;
    case FieldChoice::Odd:
      return Field::Odd;
    default:
      return LibraryField(height);
  }
}

bool Share(CRZDIB2& out, const CRZDIB2& result) {
  out = result;
  return true;
}

Operation Reduction(const Args& args, const char* name, int divisor) {
  const FieldChoice field = ParseField(args);
  return {name, true, [field, divisor](CRZDIB2& in, CRZDIB2& out) {
            if (field == FieldChoice::None) {
              return divisor == 2 ? out.CreateQuarter(in) : out.CreateEighth(in);
            }
            const Field picked = PictureField(field, in.DIBHeight());
            return divisor == 2 ? CreateQuarterOfField(out, in, picked)
                                : CreateEighthOfField(out, in, picked);
          }};
}

Operation MakeQuarter(const Args& args) { return Reduction(args, "quarter", 2); }
Operation MakeEighth(const Args& args) { return Reduction(args, "eighth", 4); }

Operation MakeScale(const Args& args) {
  const std::pair<int, int> size = ParseSize(args.positional.at(0), 1);
  const int w = size.first;
  const int h = size.second;
  const FieldChoice field = ParseField(args);
  return {"scale", true, [field, w, h](CRZDIB2& in, CRZDIB2& out) {
            if (field == FieldChoice::None) return out.CreateScaled(in, w, h);
            return CreateScaledFromField(out, in, w, h, PictureField(field, in.DIBHeight()));
          }};
}

Operation MakeMirror(const Args& args) {
  const bool vertical = args.Has("--vertical");
  const bool horizontal = args.Has("--horizontal") || !vertical;
  return {"mirror", true, [horizontal, vertical](CRZDIB2& in, CRZDIB2& out) {
            return out.Create(in) && out.Mirror(horizontal, vertical, in);
          }};
}

Operation MakeField(const Args& args) {
  if (args.Has("--odd") == args.Has("--even"))
    throw UsageError("give exactly one of --odd and --even");
  const Field field = args.Has("--odd") ? Field::Odd : Field::Even;
  const int interpolate = args.Has("--interpolate") ? 1 : 0;
  return {"field", false, [field, interpolate](CRZDIB2& in, CRZDIB2& out) {
            return out.CreateInterpolatedFrame(in, static_cast<int>(field), interpolate);
          }};
}

Operation MakeBrightness(const Args& args) {
  const std::string& text = args.positional.at(0);
  int level = ParseInt(text);
  if (level < 0 || level > 255) {
    // The library holds the level to 0..255 itself; doing it here first keeps
    // the extremes away from its arithmetic and tells the user.
    level = level < 0 ? 0 : 255;
    std::fprintf(stderr, "kolvex brightness: level %s is outside 0 to 255; using %d\n",
                 text.c_str(), level);
  }
  return {"brightness", true, [level](CRZDIB2& in, CRZDIB2& out) {
            return in.AdjustBrightness(level) && Share(out, in);
          }};
}

Operation MakeMedian(const Args&) {
  return {"median", false,
          [](CRZDIB2& in, CRZDIB2& out) { return out.Create(in) && out.Median3x3(in); }};
}

#define FIELD_OPTIONS                                                                   \
  "  --field       keep to one field of an interlaced frame: rows 1, 3, 5... counted\n" \
  "                from the bottom, which are the even picture rows (0, 2, 4... from\n" \
  "                the top) when the height is even and the odd ones when it is odd\n"  \
  "  --field=even  keep to picture rows 0, 2, 4... counted from the top\n"              \
  "  --field=odd   keep to picture rows 1, 3, 5... counted from the top\n"

#define GREY_NOTE                                                                 \
  "8-bit grey files are widened to 24 bits for the operation and the result is\n" \
  "narrowed back (exactly); palette, 16-bit and 1/4-bit files load as 24 bits.\n"

}  // namespace

const std::vector<OperationDef>& OperationDefs() {
  static const std::vector<OperationDef> defs = {
      {"quarter",
       "halve width and height (2x2 means, rounded)",
       "usage: kolvex quarter [--field[=even|odd]] INPUT OUTPUT\n"
       "Each output pixel is the mean of a 2x2 block, rounded half up. Rows count\n"
       "from the bottom, as bitmap files store them: an odd width drops the last\n"
       "column and an odd height the top row. With a field, each output pixel is\n"
       "the mean of 2 pixels of the field's row in each pair of rows.\n" FIELD_OPTIONS GREY_NOTE
       "Memory: the image and a result of a quarter of its size.\n",
       {"--field"},
       {"--field"},
       nullptr,
       MakeQuarter},
      {"eighth",
       "divide width and height by four (4x4 means, rounded)",
       "usage: kolvex eighth [--field[=even|odd]] INPUT OUTPUT\n"
       "Each output pixel is the mean of a 4x4 block, rounded half up. Rows count\n"
       "from the bottom: a width that is no multiple of 4 drops the last 1 to 3\n"
       "columns, such a height the top 1 to 3 rows. With a field, each output pixel\n"
       "is the mean of 8 pixels: 4 in each of the field's two rows of the group.\n" FIELD_OPTIONS
           GREY_NOTE "Memory: the image and a result of a sixteenth of its size.\n",
       {"--field"},
       {"--field"},
       nullptr,
       MakeEighth},
      {"scale",
       "resize by nearest-neighbour sampling",
       "usage: kolvex scale WIDTHxHEIGHT [--field[=even|odd]] INPUT OUTPUT\n"
       "Each output pixel copies the input pixel under its centre: input column\n"
       "floor((2x + 1) * W / (2 * WIDTH)) for output column x, and the same for rows\n"
       "counted from the bottom. A centre exactly on the boundary of two input\n"
       "pixels takes the later one: the right one, and the upper one (rows count\n"
       "from the bottom). With a field, rows are taken from that field only (held\n"
       "at the last row for the topmost output rows) and the result is progressive.\n" FIELD_OPTIONS
           GREY_NOTE "Memory: the image and a result of the new size.\n",
       {"--field"},
       {"--field"},
       "WIDTHxHEIGHT",
       MakeScale},
      {"mirror",
       "flip left to right and/or top to bottom",
       "usage: kolvex mirror [--horizontal] [--vertical] INPUT OUTPUT\n"
       "  --horizontal  reverse each row (the default when neither is given)\n"
       "  --vertical    reverse the order of the rows\n" GREY_NOTE
       "Memory: the image and a result of the same size (a 1-bit file of W x H\n"
       "pixels loads as 3 x W x H bytes).\n",
       {"--horizontal", "--vertical"},
       {},
       nullptr,
       MakeMirror},
      {"field",
       "a progressive frame from one field of an interlaced frame",
       "usage: kolvex field --odd|--even [--interpolate] INPUT OUTPUT\n"
       "Picture rows count from the top here: the even field is rows 0, 2, 4...,\n"
       "the odd field rows 1, 3, 5.... Every depth is taken as it loads.\n"
       "  --odd, --even   the field to keep\n"
       "  --interpolate   fill the other rows with the rounded mean of the field rows\n"
       "                  above and below (an edge row repeats the nearest field row)\n"
       "                  instead of repeating field rows\n"
       "Memory: the image and a result of the same size.\n",
       {"--odd", "--even", "--interpolate"},
       {},
       nullptr,
       MakeField},
      {"brightness",
       "brighten or darken through a clamped table",
       "usage: kolvex brightness LEVEL INPUT OUTPUT\n"
       "LEVEL 128 keeps the values. Each step below 128 adds 1 to every colour\n"
       "channel (brighter), each step above subtracts 1 (darker), and results are\n"
       "held to 0..255: level 0 adds 128, level 255 subtracts 127. A level outside\n"
       "0..255 acts as 0 or 255, with a warning. Alpha is kept.\n" GREY_NOTE
       "Memory: the image alone (changed in place).\n",
       {},
       {},
       "LEVEL",
       MakeBrightness},
      {"median",
       "3x3 median filter (borders kept)",
       "usage: kolvex median INPUT OUTPUT\n"
       "Each channel of each pixel becomes the median of its 3x3 neighbourhood; the\n"
       "first and last rows and columns are copied. At 32 bits alpha is filtered\n"
       "too. Every depth is taken as it loads.\n"
       "Memory: the image and a result of the same size.\n",
       {},
       {},
       nullptr,
       MakeMedian},
  };
  return defs;
}

const OperationDef* FindOperation(const std::string& name) {
  for (const OperationDef& def : OperationDefs()) {
    if (name == def.name) return &def;
  }
  return nullptr;
}

void ApplyChain(const std::vector<Operation>& chain, CRZDIB2& frame, const std::string& name) {
  bool widened = false;
  for (const Operation& op : chain) {
    if (op.colourOnly && frame.DIBBitCount() == 8) {
      CRZDIB2 colour;
      if (!WidenGrey(frame, colour)) throw FileError(name, "out of memory");
      frame = colour;
      widened = true;
    }
    CRZDIB2 result;
    bool done = false;
    try {
      done = op.run(frame, result);
    } catch (CException* e) {  // the memory exception of a copy-before-write
      e->Delete();
    }
    if (!done) throw FileError(name, op.name + " failed (out of memory)");
    frame = result;
  }
  if (widened) {
    CRZDIB2 grey;
    if (!NarrowToGrey(frame, grey)) throw FileError(name, "out of memory");
    frame = grey;
  }
}

}  // namespace kolvex::cli
