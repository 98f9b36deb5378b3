// The calculator page's script. The page's load handler calls update() once, after the panel has
// written the query into the literal of _search (the one place where the query goes in).
//
// It runs in the browser control's legacy script engine (ES3): no Array indexOf, no indexing of
// strings with [], no JSON. The build joins its lines into one line of the page, dropping the
// lines that hold only a comment: keep comments on lines of their own, never after code, and end
// every statement with a semicolon.

// One rewriting pass: every caret that the pass meets becomes a pow call, the rightmost one always
// included. The text is worked from the right on two stacks of characters; carets that a base
// takes in are copied unchanged and left to a later pass.
function _hatToPow(str) {
    var strArr = str.split('');
    var out = [];
    var cursor;
    var depth;
    var pow;
    var hadDepth;
    // What may continue an exponent, and what may continue a base. The comma is not in rBck: at
    // depth 0 a comma ends the base, so max(1,2^3) becomes max(1,pow(2,3)), not max(pow(1,2,3)).
    var rFwd = /[(0-9.^a-zA-Z_$]/i;
    var rBck = /[)0-9.^a-zA-Z_$]/i;
    cursor = strArr.pop();
    while (cursor !== undefined) {
        if (cursor != '^') {
            out.push(cursor);
        } else {
            depth = 0;
            pow = [];
            hadDepth = false;
            // The exponent: the processed characters right of the caret, nearest first. A minus
            // sign only as its first item; after its first balanced group, nothing at depth 0.
            while (true) {
                cursor = out.pop();
                if (cursor === undefined || cursor === '') {
                    break;
                }
                if (!(depth > 0 || (rFwd.test(cursor) && !hadDepth) || (cursor == '-' && pow.length == 0))) {
                    break;
                }
                if (cursor == '(') {
                    depth++;
                    hadDepth = true;
                } else if (cursor == ')') {
                    depth--;
                }
                pow.push(cursor);
            }
            out.push(cursor);
            out.push(')');
            out.push(pow.join(''));
            out.push(',');
            // The base: the characters left of the caret, nearest first.
            while (true) {
                cursor = strArr.pop();
                if (cursor === undefined) {
                    break;
                }
                if (!(depth > 0 || rBck.test(cursor))) {
                    break;
                }
                if (cursor == ')') {
                    depth++;
                } else if (cursor == '(') {
                    depth--;
                }
                out.push(cursor);
            }
            out.push('pow(');
            // The character that ended the base is consumed here and not examined again.
            out.push(cursor);
        }
        cursor = strArr.pop();
    }
    return out.reverse().join('');
}

// Implicit multiplication, for one run of digits and points and the run of letters and opening
// parentheses right after it: 2pi becomes 2*pi, 3(4+5) becomes 3*(4+5). Left alone are a number
// inside a name (log2e, atan2(1,1), x2y), exponent notation (1e3, 1.5e3, 1e-3, 2E+5) and
// hexadecimal literals (0x10). The regular expression takes whole runs of digits, so the scan
// costs linear time however long a run is.
function _timesBeforeName(match, run, name, offset, text) {
    if (name == '') {
        return match;
    }
    // The number is the longest tail of the run with at most one point and at least one digit.
    var lastPoint = run.lastIndexOf('.');
    var start = lastPoint > 0 ? run.lastIndexOf('.', lastPoint - 1) + 1 : 0;
    var number = run.substring(start);
    if (!/[0-9]/.test(number)) {
        return match;
    }
    if (/[0-9a-zA-Z_$]/.test(text.charAt(offset + start - 1))) {
        return match;
    }
    var after = text.charAt(offset + match.length);
    var afterNext = text.charAt(offset + match.length + 1);
    var lowerName = name.toLowerCase();
    if (lowerName == 'e' && (/[0-9]/.test(after) || (/[+-]/.test(after) && /[0-9]/.test(afterNext)))) {
        return match;
    }
    if (number == '0' && lowerName.charAt(0) == 'x' && /[0-9a-f]/i.test(name.length > 1 ? name.charAt(1) : after)) {
        return match;
    }
    return run + '*' + name;
}

// The text may reach eval only when it is arithmetic: numbers, the names that update's scope
// gives (Math's own members, the lower-case constants, xor), operators, parentheses, commas,
// spaces. Anything else would run as script inside the shell, so it is refused here with an
// error that the page shows: the first unknown name as "NAME is not defined", anything else as a
// syntax error. Throws a plain object with a message, the one property the page shows.
function _checkArithmetic(text) {
    var scopeNames = { e: 1, pi: 1, log10e: 1, log2e: 1, ln10: 1, ln2: 1, sqrt1_2: 1, sqrt2: 1, xor: 1 };
    // The classic members, in case the engine does not report built-in members as own ones.
    var classicMath = { E: 1, LN10: 1, LN2: 1, LOG10E: 1, LOG2E: 1, PI: 1, SQRT1_2: 1, SQRT2: 1,
        abs: 1, acos: 1, asin: 1, atan: 1, atan2: 1, ceil: 1, cos: 1, exp: 1, floor: 1, log: 1,
        max: 1, min: 1, pow: 1, random: 1, round: 1, sin: 1, sqrt: 1, tan: 1 };
    // Assignment (=, +=, ...), increment and decrement are missing on purpose, and so is the
    // caret, which no text keeps after the rewriting.
    var threeCharOperators = { '===': 1, '!==': 1, '>>>': 1 };
    var twoCharOperators = { '==': 1, '!=': 1, '<=': 1, '>=': 1, '<<': 1, '>>': 1, '&&': 1, '||': 1 };
    var oneCharOperators = '+-*/%&|~!<>?:(),';
    var i = 0;
    var length = text.length;
    var expectOperand = true;
    var previous = '';
    var c;
    var start;
    var token;

    function isDigit(ch) {
        return ch >= '0' && ch <= '9';
    }
    function isNameStart(ch) {
        return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || ch == '_' || ch == '$';
    }
    function isKnownName(name) {
        if (scopeNames.hasOwnProperty(name) || classicMath.hasOwnProperty(name)) {
            return true;
        }
        if (typeof Math.hasOwnProperty != 'function' || !Math.hasOwnProperty(name)) {
            return false;
        }
        var kind = typeof Math[name];
        return kind == 'number' || kind == 'function';
    }
    function describe(part) {
        var code = part.charCodeAt(0);
        if (part.length == 1 && (code < 32 || code > 126)) {
            var hex = code.toString(16).toUpperCase();
            while (hex.length < 4) {
                hex = '0' + hex;
            }
            return 'U+' + hex;
        }
        return part == "'" ? '"' + part + '"' : "'" + part + "'";
    }
    function unexpected(part) {
        return { message: 'Syntax error: unexpected ' + describe(part) };
    }

    while (i < length) {
        c = text.charAt(i);
        start = i;
        if (c == ' ' || c == '\t') {
            i++;
            continue;
        }
        if (isDigit(c) || (c == '.' && isDigit(text.charAt(i + 1)))) {
            if (c == '0' && (text.charAt(i + 1) == 'x' || text.charAt(i + 1) == 'X') && /[0-9a-f]/i.test(text.charAt(i + 2))) {
                i += 2;
                while (/[0-9a-f]/i.test(text.charAt(i))) {
                    i++;
                }
            } else {
                while (isDigit(text.charAt(i))) {
                    i++;
                }
                if (text.charAt(i) == '.') {
                    i++;
                    while (isDigit(text.charAt(i))) {
                        i++;
                    }
                }
                if (text.charAt(i) == 'e' || text.charAt(i) == 'E') {
                    if (isDigit(text.charAt(i + 1))) {
                        i += 1;
                    } else if ((text.charAt(i + 1) == '+' || text.charAt(i + 1) == '-') && isDigit(text.charAt(i + 2))) {
                        i += 2;
                    }
                    while (isDigit(text.charAt(i))) {
                        i++;
                    }
                }
            }
            token = text.substring(start, i);
            expectOperand = false;
        } else if (isNameStart(c)) {
            while (i < length && (isNameStart(text.charAt(i)) || isDigit(text.charAt(i)))) {
                i++;
            }
            token = text.substring(start, i);
            if (!isKnownName(token)) {
                throw { message: token + ' is not defined' };
            }
            expectOperand = false;
        } else {
            token = text.substring(i, i + 3);
            if (!threeCharOperators.hasOwnProperty(token)) {
                token = text.substring(i, i + 2);
                if (token == '++' || token == '--') {
                    throw unexpected(token);
                }
                if (!twoCharOperators.hasOwnProperty(token)) {
                    token = c;
                    if (oneCharOperators.indexOf(c) < 0) {
                        throw unexpected(c);
                    }
                }
            }
            // A slash where a value is due would open a regular expression literal, and two
            // characters /* or // would open a comment.
            if (token == '/' && (expectOperand || text.charAt(i + 1) == '/' || text.charAt(i + 1) == '*')) {
                throw unexpected(token);
            }
            // A current engine would take pow(5,) as pow(5); the legacy one calls it a syntax
            // error, and so does the page in every engine.
            if (token == ')' && previous == ',') {
                throw unexpected(token);
            }
            i += token.length;
            expectOperand = token != ')';
        }
        previous = token;
    }
}

function update() {
    with (Math) {
        var e = E;
        var pi = PI;
        var log10e = LOG10E;
        var log2e = LOG2E;
        var ln10 = LN10;
        var ln2 = LN2;
        var sqrt1_2 = SQRT1_2;
        var sqrt2 = SQRT2;
        var _light = '#777777';
        var _dark = '#333333';
        var xor = function(a,b) { return a^b;};
        var _search = '';
        var _interpreted = _search;
        var _result = document.getElementById('_result');
        var _query = document.getElementById('_query');
        // Each caret pass costs the text's length and a chain of carets needs one pass per caret,
        // so the passes stop after a fixed amount of work; carets left over give an error. This
        // keeps a pasted chain of hundreds of carets from freezing the Start Menu.
        var _rewriteWork = 0;

        _interpreted = _interpreted.replace(/([0-9.]+)([a-z(]*)/gi, _timesBeforeName);
        while (_interpreted.indexOf('^') >= 0 && _rewriteWork < 20000) {
            _rewriteWork += _interpreted.length;
            _interpreted = _hatToPow(_interpreted);
        }
        try {
            if (_interpreted.indexOf('^') >= 0) {
                throw { message: 'Too many ^ in one expression' };
            }
            _checkArithmetic(_interpreted);
            _result.innerText = String(eval(_interpreted));
            _result.style.color = _dark;
            _query.innerText = _interpreted.toString() + ' ';
            _query.style.color = _light;
        } catch (err) {
            // The message, not toString(): the legacy engine writes every error as [object Error].
            _result.innerText = String(err.message);
            _result.style.color = _light;
            _query.innerText = _interpreted.toString() + ' ';
            _query.style.color = _dark;
        }
    }
}
