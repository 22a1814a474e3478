#include "app/section.h"

#include "models/dispersion/dispersion.h"
#include "models/loss/loss.h"
#include "models/static/static_models.h"

namespace kx {

void static_section(State& st) {
  const Design& d = st.design;
  Working& wk = st.work;
  lcwta(d.er, d.h, wk.s, d.t, wk.w, wk.wte, wk.wto);
  mscuppv(st.rec, wk.effc, wk.effe, wk.effo, d.er, d.t, d.h, d.h2, d.ieoro, d.iop, wk.s, wk.wte,
          wk.wto);
  ms1imp(st.rec, wk.effe, wk.effo, d.er, d.h, d.h2, d.ieoro, wk.iflag, d.iop, wk.s, wk.wte, wk.wto,
         wk.zoedc, wk.zoodc);
}

void dispersive_section(State& st, float f) {
  const Design& d = st.design;
  Working& wk = st.work;
  lceff(st.rec, wk.effc, wk.effe, wk.effo, d.er, f, d.h, d.ieoro, d.iop, wk.s, wk.wte, wk.wto);
  lcdis(st.rec, wk.effo, st.rec.lceff1.effof, d.er, f, d.h, d.h2, d.ieoro, wk.iflag, d.iop, wk.s,
        wk.wte, wk.wto, wk.zoedc, wk.zoodc);
}

void section_losses(State& st, float& ate, float& ato, float f) {
  const Design& d = st.design;
  ms1los(st.rec, ate, ato, d.er, f, d.h, d.h2, d.res, st.work.s, d.sr, d.t, d.tlos, st.work.w);
}

}  // namespace kx
