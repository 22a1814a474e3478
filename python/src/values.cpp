#include "python/src/values.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <utility>

#include <kestrelix/units.h>
#include <kestrelix/validity.h>
#include "common/text.h"
#include "shared/input_checks.h"

namespace kx::py_face {

// ------------------------------------------------------------------ units --

LengthUnit unit_of(const std::string& name) {
  if (name == "in") return LengthUnit::in;
  if (name == "mil") return LengthUnit::mil;
  if (name == "mm") return LengthUnit::mm;
  if (name == "um") return LengthUnit::um;
  throw checks::InputError("units: in, mil, mm or um, not '" + name + "'");
}

const char* unit_name(LengthUnit u) {
  switch (u) {
    case LengthUnit::mil:
      return "mil";
    case LengthUnit::mm:
      return "mm";
    case LengthUnit::um:
      return "um";
    case LengthUnit::in:
      break;
  }
  return "in";
}

float to_inch(double v, LengthUnit u) {
  switch (u) {
    case LengthUnit::mil:
      return from_mil(v);
    case LengthUnit::mm:
      return from_mm(v);
    case LengthUnit::um:
      return from_um(v);
    case LengthUnit::in:
      break;
  }
  return static_cast<float>(v);
}

double from_inch(float inches, LengthUnit u) {
  const auto v = static_cast<double>(inches);
  switch (u) {
    case LengthUnit::mil:
      return v * mil_per_inch;
    case LengthUnit::mm:
      return v * mm_per_inch_exact;
    case LengthUnit::um:
      return v * um_per_inch;
    case LengthUnit::in:
      break;
  }
  return v;
}

float per_unit(float per_inch, LengthUnit u) {
  // The command line's units per inch, as 32-bit values.
  switch (u) {
    case LengthUnit::mil:
      return per_inch / 1000.0f;
    case LengthUnit::mm:
      return per_inch / 25.4f;
    case LengthUnit::um:
      return per_inch / 25400.0f;
    case LengthUnit::in:
      break;
  }
  return per_inch;
}

Materials MaterialsValue::get() const {
  Materials m;
  m.res = static_cast<float>(res);
  m.sr = static_cast<float>(sr);
  m.tlos = static_cast<float>(tlos);
  return m;
}

// ---------------------------------------------------------------- options --

namespace {

std::string word(const py::object& o, const char* name) {
  if (!py::isinstance<py::str>(o)) {
    throw checks::InputError(std::string(name) + ": a word, not " +
                             py::str(py::type::of(o).attr("__name__")).cast<std::string>());
  }
  return o.cast<std::string>();
}

const checks::ModelNames& model_names() {
  static const checks::ModelNames names{"accuracy", "coating", "coating", "method",
                                        "model='closed'"};
  return names;
}

}  // namespace

ModelSettings model_settings(const py::object& model, const py::object& accuracy,
                             const py::object& method, const py::object& coating, bool deviations) {
  ModelSettings m;
  if (!model.is_none()) {
    const std::string w = word(model, "model");
    if (w == "field") {
      m.model = Model::field;
    } else if (w == "closed") {
      m.model = Model::closed;
    } else {
      throw checks::InputError("model: closed or field, not '" + w + "'");
    }
  }
  const bool field = m.model == Model::field;
  if (field && deviations) {
    throw checks::InputError(
        "deviations: the closed forms' deviations from the field solver; they go with "
        "model='closed'");
  }
  checks::check_model_options(model_names(), field, !accuracy.is_none() && !deviations,
                              !method.is_none(), coating.is_none() ? std::string() : "coating");
  if (!accuracy.is_none()) m.accuracy = checks::accuracy_of("accuracy", word(accuracy, "accuracy"));
  if (!method.is_none()) m.method = checks::method_of("method", word(method, "method"));
  if (!coating.is_none()) {
    const auto& c = coating.cast<const CoatingValue&>();
    m.coating.thickness = to_inch(c.thickness, c.units);
    m.coating.er = static_cast<float>(c.er);
  }
  return m;
}

const char* model_name(const ModelSettings& m) {
  return m.model == Model::field ? "field" : "closed";
}

// ------------------------------------------------------------ broadcasting --

Broadcast::Input& Broadcast::next_input() {
  if (n_inputs_ == max_inputs) throw std::logic_error("Broadcast: too many inputs");
  return inputs_[n_inputs_++];
}

int Broadcast::add(const char* name, py::handle value) {
  Input& in = next_input();
  in.name = name;
  PyObject* o = value.ptr();
  if (PyFloat_Check(o) || (PyLong_Check(o) && !PyBool_Check(o))) {
    in.number = PyFloat_AsDouble(o);
    if (in.number == -1.0 && PyErr_Occurred()) throw py::error_already_set();
    in.data = reinterpret_cast<const char*>(&in.number);
  } else {
    auto a = py::array_t<double, py::array::forcecast>::ensure(value);
    if (!a) {
      PyErr_Clear();
      throw checks::InputError(std::string(name) + ": a number or an array of numbers");
    }
    if (a.ndim() > static_cast<py::ssize_t>(max_dims)) {
      throw checks::InputError(std::string(name) + ": too many dimensions");
    }
    in.data = reinterpret_cast<const char*>(a.data());
    in.shape.assign(a.shape(), a.shape() + a.ndim());
    in.strides.assign(a.strides(), a.strides() + a.ndim());
    in.array = std::move(a);
  }
  return static_cast<int>(n_inputs_) - 1;
}

int Broadcast::add(double v) {
  Input& in = next_input();
  in.number = v;
  in.data = reinterpret_cast<const char*>(&in.number);
  return static_cast<int>(n_inputs_) - 1;
}

namespace {

std::string shape_text(const std::vector<py::ssize_t>& shape) {
  std::string t = "(";
  for (std::size_t k = 0; k < shape.size(); ++k) {
    t += std::to_string(shape[k]) + (shape.size() == 1 || k + 1 < shape.size() ? "," : "");
    if (k + 1 < shape.size()) t += " ";
  }
  return t + ")";
}

}  // namespace

void Broadcast::finish() {
  std::size_t nd = 0;
  for (std::size_t j = 0; j < n_inputs_; ++j) nd = std::max(nd, inputs_[j].shape.size());
  if (nd == 0) return;  // numbers only (a 0-d array among them too)
  shape_.assign(nd, 1);
  std::array<const Input*, max_dims> sets{};  // the input that set each dimension
  for (std::size_t j = 0; j < n_inputs_; ++j) {
    const Input& in = inputs_[j];
    const std::size_t lead = nd - in.shape.size();
    for (std::size_t k = 0; k < in.shape.size(); ++k) {
      const py::ssize_t n = in.shape[k];
      py::ssize_t& out = shape_[lead + k];
      if (n == out || n == 1) continue;
      if (out != 1) {
        const Input& other = *sets[lead + k];
        throw checks::InputError(std::string(in.name) + ": shape " + shape_text(in.shape) +
                                 " does not broadcast with " + other.name + "'s " +
                                 shape_text(other.shape));
      }
      out = n;
      sets[lead + k] = &in;
    }
  }
  size_ = 1;
  for (const py::ssize_t n : shape_) size_ *= n;
  // The strides of every input over the result's dimensions: 0 where it
  // is broadcast.
  for (std::size_t j = 0; j < n_inputs_; ++j) {
    Input& in = inputs_[j];
    std::vector<py::ssize_t> strides(nd, 0);
    const std::size_t lead = nd - in.shape.size();
    for (std::size_t k = 0; k < in.shape.size(); ++k) {
      strides[lead + k] = in.shape[k] == 1 ? 0 : in.strides[k];
    }
    in.strides = std::move(strides);
  }
}

Broadcast::Cursor::Cursor(const Broadcast& b, py::ssize_t first) : b_(b) {
  // The multi-index of `first` and each input's offset there.
  const std::size_t nd = b.shape_.size();
  for (std::size_t d = nd; d-- > 0;) {
    index_[d] = first % b.shape_[d];
    first /= b.shape_[d];
  }
  for (std::size_t j = 0; j < b.n_inputs_; ++j) {
    for (std::size_t d = 0; d < nd; ++d) offset_[j] += index_[d] * b.inputs_[j].strides[d];
  }
}

void Broadcast::Cursor::next() {
  const std::size_t nd = b_.shape_.size();
  const std::size_t n = b_.n_inputs_;
  for (std::size_t d = nd; d-- > 0;) {
    if (++index_[d] < b_.shape_[d]) {
      for (std::size_t j = 0; j < n; ++j) offset_[j] += b_.inputs_[j].strides[d];
      return;
    }
    index_[d] = 0;
    for (std::size_t j = 0; j < n; ++j) {
      offset_[j] -= b_.inputs_[j].strides[d] * (b_.shape_[d] - 1);
    }
  }
}

// ---------------------------------------------------------------- results --

const py::object& Keys::operator()(const char* key) {
  for (const auto& [at, made] : made_) {
    if (at == key) return made;
  }
  made_.emplace_back(key, py::reinterpret_steal<py::object>(PyUnicode_InternFromString(key)));
  if (!made_.back().second) throw py::error_already_set();
  return made_.back().second;
}

Columns::Column& Columns::next_column(const char* key, Kind kind) {
  if (n_columns_ == max_columns) throw std::logic_error("Columns: too many columns");
  Column& c = columns_[n_columns_++];
  c.key = key;
  c.kind = kind;
  return c;
}

double* Columns::number(const char* key) {
  Column& c = next_column(key, Kind::number);
  if (b_.scalar()) return &c.number;
  py::array_t<double> a(b_.shape());
  double* p = a.mutable_data();
  c.array = std::move(a);
  return p;
}

bool* Columns::boolean(const char* key) {
  Column& c = next_column(key, Kind::boolean);
  if (b_.scalar()) return &c.boolean;
  py::array_t<bool> a(b_.shape());
  bool* p = a.mutable_data();
  c.array = std::move(a);
  return p;
}

unsigned* Columns::flags(const char* key) {
  Column& c = next_column(key, Kind::flags);
  c.codes.assign(static_cast<std::size_t>(b_.size()), 0u);
  return c.codes.data();
}

py::object code_strings(const std::vector<unsigned>& flags, const std::vector<py::ssize_t>& shape) {
  if (shape.empty()) return py::str(validity_codes(flags[0]));
  std::vector<std::string> text(flags.size());
  std::size_t width = 1;
  // Most points carry one of a few sets of codes: each set's text once.
  std::vector<std::pair<unsigned, std::string>> seen;
  for (std::size_t i = 0; i < flags.size(); ++i) {
    auto it =
        std::find_if(seen.begin(), seen.end(), [&](const auto& p) { return p.first == flags[i]; });
    if (it == seen.end()) {
      seen.emplace_back(flags[i], validity_codes(flags[i]));
      it = seen.end() - 1;
    }
    text[i] = it->second;
    width = std::max(width, it->second.size());
  }
  // numpy's fixed-width unicode strings (UCS4).
  py::dtype dt(std::string("<U") + std::to_string(width));
  py::array a(dt, shape);
  auto* out = static_cast<char32_t*>(a.mutable_data());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t* cell = out + i * width;
    std::fill(cell, cell + width, U'\0');
    std::copy(text[i].begin(), text[i].end(), cell);
  }
  return std::move(a);
}

py::dict Columns::finish() {
  py::dict d;
  for (std::size_t k = 0; k < n_columns_; ++k) {
    Column& c = columns_[k];
    switch (c.kind) {
      case Kind::number:
        d[keys_(c.key)] = b_.scalar() ? py::object(py::float_(c.number)) : c.array;
        break;
      case Kind::boolean:
        d[keys_(c.key)] = b_.scalar() ? py::object(py::bool_(c.boolean)) : c.array;
        break;
      case Kind::flags:
        d[keys_(c.key)] = code_strings(c.codes, b_.shape());
        break;
    }
  }
  return d;
}

Materials materials_of(const py::object& materials) {
  Materials mat;
  mat.res = checks::default_res;
  mat.sr = checks::default_sr;
  if (!materials.is_none()) mat = materials.cast<const MaterialsValue&>().get();
  checks::require_at_least("res", mat.res, 0.0f);
  checks::require_at_least("sr", mat.sr, 0.0f);
  checks::require_at_least("tlos", mat.tlos, 0.0f);
  return mat;
}

const CoatingValue* coating_of(const py::object& coating) {
  return coating.is_none() ? nullptr : &coating.cast<const CoatingValue&>();
}

// ----------------------------------------------------------------- section --

SectionSlots section_slots(Broadcast& b, const SectionValue& sec, const py::object& er,
                           const py::object& h, const py::object& h2, const py::object& w,
                           const py::object& s, const py::object& t) {
  const auto slot = [&b](const char* name, const py::object& v, double own) {
    return v.is_none() ? b.add(own) : b.add(name, v);
  };
  SectionSlots slots;
  slots.er = slot("er", er, sec.er);
  slots.h = slot("h", h, sec.h);
  slots.h2 = slot("h2", h2, sec.h2);
  slots.w = slot("w", w, sec.w);
  slots.s = slot("s", s, sec.s);
  slots.t = slot("t", t, sec.t);
  return slots;
}

Section section_at(const Broadcast::Cursor& c, const SectionSlots& slots, LengthUnit u) {
  Section sec;
  sec.er = static_cast<float>(c[slots.er]);
  sec.h = to_inch(c[slots.h], u);
  sec.h2 = to_inch(c[slots.h2], u);  // infinity: open
  sec.w = to_inch(c[slots.w], u);
  sec.s = to_inch(c[slots.s], u);
  sec.t = to_inch(c[slots.t], u);
  return sec;
}

void check_section(const Section& sec, bool need_w, bool need_s, const ModelSettings& model,
                   const CoatingValue* coating, LengthUnit u, const char* what) {
  static const checks::SectionNames names{"er", "h", "h2", "w", "s", "t"};
  checks::validate_section(names, sec, need_w, need_s);
  // In the command line's order: the coating with the model's options, then
  // the cover under the model, then the solver's own reasons.
  if (model.model == Model::field && coating != nullptr) {
    const auto text = [u](float inches) {
      return shortest(static_cast<float>(from_inch(inches, u))) + " " + unit_name(u);
    };
    checks::check_coating(model_names(), model, sec, text);
  }
  checks::validate_cover("h2", sec, model);
  if (need_w && need_s) checks::check_field_section(model, sec, what);
}

void check_at_least(const char* name, float v, float floor) {
  checks::require_at_least(name, v, floor);
}

}  // namespace kx::py_face
