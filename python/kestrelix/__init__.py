"""kestrelix: edge-coupled microstrip lines and couplers.

The same models as the kestrelix program (the closed forms and the 2-D field
solver), called in-process:

    import numpy as np
    import kestrelix as kx

    sec = kx.Section(er=3.66, h=0.508, w=0.87, s=0.12, t=0.035, h2=6.35, units="mm")
    m = kx.modes(sec, f=2.4)                        # m["zoe"], m["coupling"], m["valid"] ...
    grid = kx.modes(sec, w=np.linspace(0.5, 1.5, 11)[:, None],
                    s=np.linspace(0.1, 0.3, 5)[None, :], f=2.4)   # arrays of shape (11, 5)
    c = kx.synthesise(sec, zo=50, coupling=10, f=2.4)
    net = kx.response(sec.replace(w=c["w"], s=c["s"]), f=kx.sweep(1, 4, 0.01), centre=2.4)

Every length is in the section's units; frequencies in GHz, impedances in
ohms, coupling and losses in positive dB. Every function takes its numbers
as scalars or numpy arrays (broadcast together) and keyword arguments after
the section. A value the models cannot take raises ValueError with the
message the command line prints. See doc/python.md.
"""
from ._kestrelix import (  # noqa: F401
    Coating,
    Materials,
    Section,
    __version__,
    check,
    default_model,
    diffpair,
    modes,
    sweep,
    synthesise,
    synthesize,
    tolerance,
)
from ._kestrelix import _response, _rlgc
from ._commands import line, loss
from . import _commands

__all__ = ["Coating", "Materials", "Section", "check", "default_model", "diffpair", "line", "loss", "modes",
           "response", "rlgc", "sweep", "synthesise", "synthesize", "tolerance"]


def response(section, *, f, length=None, centre=None, rs=50.0, rl=50.0, reference=50.0,
             radiation=True, materials=None, model="field", accuracy=None, method=None,
             coating=None, network=True):
    """The four-port response of a coupler cut from `section`.

    f: the frequencies, GHz (a number or a 1-D array; kestrelix.sweep gives the
    command line's --f-range points); length (the section's units) or centre
    (GHz, the length a quarter wave there); rs, rl: the source and load
    terminations (ohm); reference: the S-matrix's reference impedance at every
    port (ohm); radiation: the open pair's radiation loss. Ports: 1 input,
    2 coupled, 3 isolated, 4 thru.

    Returns a scikit-rf Network (4 ports, its comments those of the Touchstone
    file `kestrelix response --touchstone` writes) when scikit-rf can be
    imported and `network` is true; otherwise (f in GHz, S of shape (n, 4, 4)).
    A point outside the models' validity raises ValueError.
    """
    f_ghz, s, comments, z0, coupler = _response(
        section, f=f, length=length, centre=centre, rs=rs, rl=rl, reference=reference,
        radiation=radiation, materials=materials, model=model, accuracy=accuracy,
        method=method, coating=coating)
    if network:
        try:
            import skrf
        except ImportError:
            network = False
    if not network:
        return f_ghz, s
    # The comment lines without their "! ", the option line left to skrf.
    lines = [line[2:] for line in comments.splitlines() if line.startswith("! ")]
    net = skrf.Network(name="kestrelix_coupler", comments="\n".join(lines))
    net.frequency = skrf.Frequency.from_f(f_ghz, unit="ghz")
    net.s = s
    net.z0 = z0
    return net


def rlgc(section=None, *, f=None, f_range=None, materials=None, accuracy=None, units="in",
         **options):
    """The line's per-unit-length R, L, G, C matrices over frequency.

    The edge-coupled pair of `section` at the frequencies f (GHz, a number or
    a 1-D array) with the materials the command line takes without loss
    options: f, r, l, g, c (n, 2, 2; ohm/m, H/m, S/m, F/m), alpha_e, alpha_o,
    eff_e, eff_o, zoe, zoo, field_error. With a loss option (material, dk,
    df, f_datasheet, dielectric_model, resistivity, roughness ...), a board
    cross-section (structure, stackup, kicad + layer) or f_range=(start,
    stop, step), `kestrelix rlgc` itself is run: every column of its JSON
    rows as a numpy array under its name, with f and the matrices r, l, g, c
    (n, N, N), summary and inputs (doc/python.md).
    """
    if section is not None and not options and f_range is None and f is not None:
        return _rlgc(section, f=f, materials=materials, accuracy=accuracy)
    if accuracy is not None:
        options["accuracy"] = accuracy
    return _commands.rlgc(section, f=f, f_range=f_range, materials=materials, units=units,
                          **options)
