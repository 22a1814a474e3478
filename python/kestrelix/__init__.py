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
    line,
    modes,
    rlgc,
    sweep,
    synthesise,
    synthesize,
    tolerance,
)
from ._kestrelix import _response

__all__ = ["Coating", "Materials", "Section", "check", "default_model", "diffpair", "line", "modes",
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
