#!/usr/bin/python3
"""Makes the test prefixes' UI font: DejaVu Sans with the CJK, Thai and Devanagari glyphs
of Debian's fonts merged in, named "Velum Test Sans".

Wine's rich edit and its complex-script text (Uniscribe) take glyphs from the selected
font only, without the font linking Windows does, so every script a UI language needs
must be in the one font the dialogs and the headline use.

  make-test-ui-font.py OUTPUT.ttf
"""
import sys

from fontTools.merge import Merger
from fontTools.ttLib import TTFont
from fontTools.ttLib.scaleUpem import scale_upem
from fontTools.ttLib.tables import ttProgram

SOURCES = [  # (file, font number in a collection)
    ("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", None),
    ("/usr/share/fonts/truetype/wqy/wqy-microhei.ttc", 0),
    ("/usr/share/fonts/truetype/tlwg/Garuda.ttf", None),
    ("/usr/share/fonts/truetype/lohit-devanagari/Lohit-Devanagari.ttf", None),
]
UNITS_PER_EM = 2048
# Tables the merger cannot join and screenshots do not need (hinting among them).
DROPPED = ["MATH", "fpgm", "prep", "cvt ", "gasp", "hdmx", "LTSH", "VDMX", "kern", "vhea",
           "vmtx", "FFTM", "DSIG", "EBDT", "EBLC", "EBSC", "BASE", "JSTF", "PCLT"]
FAMILY = "Velum Test Sans"


def prepared(path, number, out):
    font = TTFont(path, fontNumber=number) if number is not None else TTFont(path)
    for tag in DROPPED:
        if tag in font:
            del font[tag]
    glyf = font["glyf"]
    for name in glyf.keys():
        glyph = glyf[name]
        if hasattr(glyph, "program"):
            glyph.program = ttProgram.Program()
            glyph.program.fromBytecode(b"")
    # The merger joins no required features: they become ordinary ones.
    for tag in ("GSUB", "GPOS"):
        if tag not in font or not font[tag].table.ScriptList:
            continue
        for record in font[tag].table.ScriptList.ScriptRecord:
            systems = [record.Script.DefaultLangSys]
            systems += [language.LangSys for language in record.Script.LangSysRecord]
            for system in systems:
                if system is not None and system.ReqFeatureIndex != 0xFFFF:
                    system.FeatureIndex = [system.ReqFeatureIndex] + list(system.FeatureIndex)
                    system.FeatureCount = len(system.FeatureIndex)
                    system.ReqFeatureIndex = 0xFFFF
    if font["head"].unitsPerEm != UNITS_PER_EM:
        scale_upem(font, UNITS_PER_EM)
    font.save(out)
    return out


def main():
    output = sys.argv[1]
    parts = [prepared(path, number, "%s.part%d" % (output, i))
             for i, (path, number) in enumerate(SOURCES)]
    font = Merger().merge(parts)
    names = font["name"]
    names.names = [n for n in names.names if n.nameID not in (1, 2, 3, 4, 6, 16, 17)]
    for platform, encoding, language in ((3, 1, 0x409), (1, 0, 0)):
        for name_id, value in ((1, FAMILY), (2, "Regular"), (3, FAMILY + " Regular"),
                               (4, FAMILY), (6, FAMILY.replace(" ", ""))):
            names.setName(value, name_id, platform, encoding, language)
    # The merged vertical metrics stay: Wine's rasteriser fails on glyphs that reach far
    # beyond them.
    font.save(output + ".tmp")
    import os
    for part in parts:
        os.remove(part)
    os.replace(output + ".tmp", output)


if __name__ == "__main__":
    main()
