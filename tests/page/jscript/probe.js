// The JScript side of the page tests, run by cscript under Wine (legacy JScript, ES3). The
// runner (jscript.test.js) puts before this file:
//   CASES         [{ typed, literal, start, passCount, engine }], literal being the typed text
//                 escaped for the script's string literal, start the text the caret passes
//                 begin with
//   SCRIPT_HEAD, SCRIPT_TAIL  the script file, split at the literal of _search
//   PAGE_SCRIPTS  per case, the script element of the page that the library built, or null
// For every case and form it prints one line: OBS <form> <index> <observation as JSON>. The
// checks themselves are made by the runner, the same for every engine.

var document;
var __canary;

function jsonString(text) {
    var out = '"';
    for (var i = 0; i < text.length; i++) {
        var code = text.charCodeAt(i);
        var c = text.charAt(i);
        if (code >= 32 && code <= 126 && c != '"' && c != '\\') {
            out += c;
        } else {
            var hex = code.toString(16);
            while (hex.length < 4) {
                hex = '0' + hex;
            }
            out += '\\u' + hex;
        }
    }
    return out + '"';
}

function toJson(value) {
    var i;
    var parts = [];
    if (value === null || value === undefined) {
        return 'null';
    }
    if (typeof value == 'string') {
        return jsonString(value);
    }
    if (typeof value == 'number') {
        return isFinite(value) ? String(value) : 'null';
    }
    if (typeof value == 'boolean') {
        return value ? 'true' : 'false';
    }
    if (value instanceof Array) {
        for (i = 0; i < value.length; i++) {
            parts.push(toJson(value[i]));
        }
        return '[' + parts.join(',') + ']';
    }
    for (i in value) {
        if (value.hasOwnProperty(i)) {
            parts.push(jsonString(i) + ':' + toJson(value[i]));
        }
    }
    return '{' + parts.join(',') + '}';
}

// A document with exactly the two elements; what the script did to them beyond innerText and
// style.color shows afterwards as extra properties.
function makeDocument(violations) {
    var elements = { _result: { style: {} }, _query: { style: {} } };
    return {
        elements: elements,
        getElementById: function (id) {
            if (!elements.hasOwnProperty(id)) {
                violations.push('getElementById(' + id + ')');
                return null;
            }
            return elements[id];
        }
    };
}

function contractViolations(doc, violations) {
    var key;
    var id;
    for (key in doc) {
        if (doc.hasOwnProperty(key) && key != 'elements' && key != 'getElementById') {
            violations.push('document.' + key);
        }
    }
    for (id in doc.elements) {
        if (!doc.elements.hasOwnProperty(id)) {
            continue;
        }
        for (key in doc.elements[id]) {
            if (doc.elements[id].hasOwnProperty(key) && key != 'innerText' && key != 'style') {
                violations.push(id + '.' + key);
            }
        }
        for (key in doc.elements[id].style) {
            if (doc.elements[id].style.hasOwnProperty(key) && key != 'color') {
                violations.push(id + '.style.' + key);
            }
        }
    }
}

// The engine's own answer for a text, evaluated as the page evaluates it.
function engineAnswer(text) {
    with (Math) {
        try {
            return { value: String(eval(text)) };
        } catch (err) {
            return { error: String(err.message), asString: String(err) };
        }
    }
}

function now() {
    return new Date().getTime();
}

// Runs one page script. It is evaluated inside this function, so that its functions are this
// call's own and nothing of an earlier case survives.
function observe(c, source) {
    var violations = [];
    var obs = { parsed: true, updateError: null, violations: violations, strayGlobals: [], passes: null, reference: null };
    var run;
    var start;
    var text;
    document = makeDocument(violations);
    __canary = { hits: 0 };
    try {
        eval(source);
    } catch (err) {
        obs.parsed = false;
    }
    obs.parsed = obs.parsed && typeof update == 'function';
    if (obs.parsed) {
        try {
            update();
        } catch (err) {
            obs.updateError = String(err.message);
        }
    }
    obs.ms = 1e9;
    for (run = 0; obs.parsed && obs.updateError === null && run < 3; run++) {
        start = now();
        update();
        obs.ms = Math.min(obs.ms, now() - start);
    }
    contractViolations(document, violations);
    obs.canary = __canary.hits;
    if (typeof location != 'undefined') {
        obs.strayGlobals.push('location');
    }
    obs.resultText = document.elements._result.innerText;
    obs.resultColor = document.elements._result.style.color;
    obs.queryText = document.elements._query.innerText;
    obs.queryColor = document.elements._query.style.color;
    obs.undefinedText = String(undefined);
    if (c.passCount > 0 && obs.parsed) {
        obs.passes = [];
        text = c.start;
        for (run = 0; run < c.passCount; run++) {
            text = _hatToPow(text);
            obs.passes.push(text);
        }
    }
    if (c.engine) {
        obs.reference = engineAnswer(c.shown);
    }
    return obs;
}

function report(form, index, c, source) {
    var obs;
    try {
        obs = observe(c, source);
    } catch (err) {
        obs = { harnessError: String(err.message) };
    }
    WScript.Echo('OBS ' + form + ' ' + index + ' ' + toJson(obs));
}

for (var index = 0; index < CASES.length; index++) {
    report('file', index, CASES[index], SCRIPT_HEAD + CASES[index].literal + SCRIPT_TAIL);
    if (PAGE_SCRIPTS[index] !== null) {
        report('page', index, CASES[index], PAGE_SCRIPTS[index]);
    }
}
WScript.Echo('DONE');
