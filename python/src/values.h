// The Python face's value types and what every function of the module
// shares: lengths in a unit of the caller's choice, the cross-section, its
// materials and coating as typed, the model options, and the numbers of a
// call broadcast together as numpy broadcasts arrays.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include <kestrelix/coupled_line.h>

namespace kx::py_face {

namespace py = pybind11;

// ------------------------------------------------------------------ units --

enum class LengthUnit { in, mil, mm, um };

// "in", "mil", "mm" or "um"; ValueError otherwise.
LengthUnit unit_of(const std::string& name);
const char* unit_name(LengthUnit u);
// A length in `u` to inches, rounded once (kestrelix/units.h).
float to_inch(double v, LengthUnit u);
// Inches to `u` in double precision, not rounded: the float of it is the
// length the command line prints (kestrelix/units.h), and to_inch gives the
// inches back.
double from_inch(float inches, LengthUnit u);
// dB per inch to dB per `u`, as the command line converts.
float per_unit(float per_inch, LengthUnit u);

// ------------------------------------------------------------ value types --

// The cross-section as typed, in its unit (W and S may be left out: NaN).
struct SectionValue {
  double er{}, h{}, h2{}, w{}, s{}, t{};
  LengthUnit units = LengthUnit::in;
};

struct MaterialsValue {
  double res{}, sr{}, tlos{};
  Materials get() const;
};

struct CoatingValue {
  double thickness{}, er{1.0};
  LengthUnit units = LengthUnit::in;
};

// ---------------------------------------------------------------- options --

// The model options of a call: model, accuracy, method, coating (None: the
// library's default model, the standard accuracy, the fast path, no
// coating). ValueError for a word that is not one of the choices, or for an
// option that needs the field model with the closed forms.
// `deviations`: the closed forms' deviations from the field solver are
// asked for (an accuracy is theirs).
ModelSettings model_settings(const py::object& model, const py::object& accuracy,
                             const py::object& method, const py::object& coating,
                             bool deviations = false);
const char* model_name(const ModelSettings& m);
// The materials of a call (None: copper, 2.5 micro-inch, no dielectric
// loss, as the command line takes them), each at least 0.
Materials materials_of(const py::object& materials);
// The coating of a call (nullptr: None).
const CoatingValue* coating_of(const py::object& coating);

// ------------------------------------------------------------- broadcasting --

// The numbers of one call, each a Python number or an array of them,
// broadcast together as numpy broadcasts them. A call of numbers only
// allocates nothing here.
class Broadcast {
 public:
  static constexpr std::size_t max_inputs = 16;
  static constexpr std::size_t max_dims = 32;  // numpy's

  // A value of the call under its keyword `name` (a literal); returns its slot.
  int add(const char* name, py::handle value);
  // A fixed number.
  int add(double v);
  // After the last add: the common shape (ValueError when the shapes do not
  // broadcast).
  void finish();

  // Every value a number (the results are numbers too).
  bool scalar() const { return shape_.empty(); }
  py::ssize_t size() const { return size_; }
  const std::vector<py::ssize_t>& shape() const { return shape_; }

  // Walks the points in C order from point `first`.
  class Cursor {
   public:
    explicit Cursor(const Broadcast& b, py::ssize_t first = 0);
    double operator[](int slot) const {
      const auto k = static_cast<std::size_t>(slot);
      return *reinterpret_cast<const double*>(b_.inputs_[k].data + offset_[k]);
    }
    void next();

   private:
    const Broadcast& b_;
    std::array<py::ssize_t, max_dims> index_{};
    std::array<py::ssize_t, max_inputs> offset_{};
  };

 private:
  struct Input {
    const char* name{};
    const char* data{};
    double number{};   // a scalar's value (data points here)
    py::object array;  // keeps an array's data alive
    std::vector<py::ssize_t> shape,
        strides;  // an array's; strides over the result's dims after finish
  };
  Input& next_input();
  std::array<Input, max_inputs> inputs_;
  std::size_t n_inputs_ = 0;
  std::vector<py::ssize_t> shape_;
  py::ssize_t size_ = 1;
};

// ---------------------------------------------------------------- results --

// The keys of the results as Python strings, each made once for the
// module's functions (which own this) and taken as it is by every result.
class Keys {
 public:
  // `key` is a literal: the same text at the same address every call.
  const py::object& operator()(const char* key);

 private:
  std::vector<std::pair<const char*, py::object>> made_;
};

// The columns of a result: numpy arrays of the broadcast shape, or numbers
// when the call was all numbers. Columns are declared with the GIL held and
// filled without it.
class Columns {
 public:
  static constexpr std::size_t max_columns = 32;

  Columns(const Broadcast& b, Keys& keys) : b_(b), keys_(keys) {}
  double* number(const char* key);
  bool* boolean(const char* key);
  // Validity codes: a string of codes separated by blanks ("" when valid).
  unsigned* flags(const char* key);
  py::dict finish();

 private:
  enum class Kind { number, boolean, flags };
  struct Column {
    const char* key{};
    Kind kind{};
    py::object array;  // number, boolean: the result itself (an array call)
    double number{};   // a scalar call's value
    bool boolean{};
    std::vector<unsigned> codes;
  };
  Column& next_column(const char* key, Kind kind);
  const Broadcast& b_;
  Keys& keys_;
  std::array<Column, max_columns> columns_;
  std::size_t n_columns_ = 0;
};

// Validity codes as numpy unicode strings of the shape (a str for a scalar:
// shape ()).
py::object code_strings(const std::vector<unsigned>& flags, const std::vector<py::ssize_t>& shape);

// The slots of a section's values at every point: the keyword's value where
// one is given (not None), else the section's own.
struct SectionSlots {
  int er{}, h{}, h2{}, w{}, s{}, t{};
};
SectionSlots section_slots(Broadcast& b, const SectionValue& sec, const py::object& er,
                           const py::object& h, const py::object& h2, const py::object& w,
                           const py::object& s, const py::object& t);
// The section at the cursor's point, in inches.
Section section_at(const Broadcast::Cursor& c, const SectionSlots& slots, LengthUnit u);

// The shared checks of a section at one point, in the module's names
// ("er: must be at least 1"): its values (W and S where needed) and, with
// the field model, the coating's and the solver's own. InputError.
void check_section(const Section& sec, bool need_w, bool need_s, const ModelSettings& model,
                   const CoatingValue* coating, LengthUnit u, const char* what = "the section");
// A number at least 0 ("f: must be at least 0").
void check_at_least(const char* name, float v, float floor);

}  // namespace kx::py_face
