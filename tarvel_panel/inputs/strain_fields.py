"""A strain's funnel, sex and #Generation as a strain or sample table gives
them, each refused in one line naming the table and its line."""
from tarvel_panel.errors import InputError
from tarvel_panel.panel.founder_names import LETTERS
from tarvel_panel.panel.model import MAX_GENERATION, MIN_GENERATION


SEXES = {"female": "female", "f": "female", "male": "male", "m": "male"}
NOT_GIVEN = ("", "NA", ".")


def parse_funnel(path, line, text, founder_names):
    """Eight founder names, numbers 1..8 or letters A..H -> founder numbers in
    funnel order (a name wins over a number or letter). Without separators
    every character is one founder (e.g. BECADHFG)."""
    parts = text.replace(",", " ").replace(";", " ").split()
    tokens = parts if len(parts) > 1 else list(text.strip())
    numbers = [founder_number(t, founder_names) for t in tokens]
    if len(numbers) != 8 or sorted(n or 0 for n in numbers) != list(range(1, 9)):
        raise InputError(path, f"funnel {text!r} is not the eight founders "
                         f"({','.join(founder_names)}, A..H or 1..8) each once", line=line)
    return tuple(numbers)


def founder_number(token, founder_names):
    """The founder (1..8) a name, number or letter stands for, or None."""
    if token in founder_names:  # before numbers: a founder may be named 129
        return founder_names.index(token) + 1
    if token.isdigit():
        return int(token) if 1 <= int(token) <= 8 else None
    if token in LETTERS:
        return LETTERS.index(token) + 1
    return None


def parse_sex(path, line, text):
    if text in NOT_GIVEN:
        return None
    if text.lower() not in SEXES:
        raise InputError(path, f"sex {text!r} is not female/male (or F/M)", line=line)
    return SEXES[text.lower()]


def parse_generation(path, line, text):
    if text in NOT_GIVEN:
        return None
    if not text.isdigit() or not MIN_GENERATION <= int(text) <= MAX_GENERATION:
        raise InputError(path, f"generation {text!r} is not a whole number from "
                         f"{MIN_GENERATION} to {MAX_GENERATION}", line=line)
    return int(text)
