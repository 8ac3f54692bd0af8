// A page movie of the SWF test set, built twice (Menu.swf and Second.swf; the define "page"
// names it, the define "title" is what it shows). Like a page made for the host it asks for its history and a maze as it starts,
// shows the six open strings and lights the one the note trainer hears, and shows the
// tuner's reading. For the tests it also registers:
//   callHost(name, args)  makes the call ExternalInterface.call(name, ...args) and answers
//                         with exactly the value the movie received;
//   report()              what the page has seen: its name, history, maze, tones, keys.
import flash.display.Shape;
import flash.display.Sprite;
import flash.display.StageScaleMode;
import flash.events.Event;
import flash.events.KeyboardEvent;
import flash.external.ExternalInterface;
import flash.text.TextField;
import flash.text.TextFieldAutoSize;
import flash.text.TextFormat;

class PageMovie {
    static inline var WIDTH = 1024;
    static inline var HEIGHT = 768;
    static inline var INK = 0xf6ead7;
    static inline var MUTED = 0xc9b391;
    static inline var ACCENT = 0xf0a030;
    static var STRING_NAMES = ["E", "A", "D", "G", "B", "e"];

    static var pageName:String;
    static var history:Dynamic = null;
    static var maze:Dynamic = null;
    static var tones:Array<Dynamic> = [];
    static var tunes:Array<Dynamic> = [];
    static var keys:Array<String> = [];

    static var root:Sprite;
    static var strings:Shape;
    static var stringLabels:Array<TextField> = [];
    static var historyText:TextField;
    static var heardText:TextField;
    static var tuneText:TextField;
    static var keyText:TextField;
    static var needle:Shape;

    static function main() {
        pageName = haxe.macro.Compiler.getDefine("page");
        if (pageName == null) pageName = "Page";
        var current = flash.Lib.current;
        if (current.stage != null) start() else current.addEventListener(Event.ADDED_TO_STAGE, function(_) start());
    }

    static function text(x:Float, y:Float, size:Int, color:Int, bold = false, font = "_sans"):TextField {
        var field = new TextField();
        field.defaultTextFormat = new TextFormat(font, size, color, bold);
        field.autoSize = TextFieldAutoSize.LEFT;
        field.selectable = false;
        field.x = x;
        field.y = y;
        root.addChild(field);
        return field;
    }

    static function panel(x:Float, y:Float, w:Float, h:Float) {
        root.graphics.lineStyle(2, 0x5c412b);
        root.graphics.beginFill(0x3a281b);
        root.graphics.drawRoundRect(x, y, w, h, 24, 24);
        root.graphics.endFill();
    }

    static function start() {
        root = new Sprite();
        flash.Lib.current.addChild(root);
        var stage = flash.Lib.current.stage;
        // Haxe's start-up code pins the stage to the top left; the host centres it.
        stage.align = cast "";
        stage.scaleMode = StageScaleMode.SHOW_ALL;

        root.graphics.beginFill(0x2b1d14);
        root.graphics.drawRect(0, 0, WIDTH, HEIGHT);
        root.graphics.endFill();
        root.graphics.beginFill(0x34231a);
        root.graphics.drawRect(0, 0, WIDTH, 72);
        root.graphics.endFill();

        var title = haxe.macro.Compiler.getDefine("title");
        var heading = text(32, 16, 30, ACCENT, true);
        heading.text = title == null ? pageName : StringTools.replace(title, "_", " ");
        text(heading.x + heading.width + 16, 28, 16, MUTED).text = pageName + ".swf, a Flash page played by Ruffle";
        historyText = text(700, 24, 20, INK);

        panel(32, 100, 460, 470);
        text(56, 116, 22, INK, true).text = "Open strings";
        heardText = text(56, 148, 18, MUTED);
        strings = new Shape();
        root.addChild(strings);
        for (i in 0...6) {
            var label = text(60, 200 + i * 58, 28, INK, true);
            label.text = STRING_NAMES[i];
            stringLabels.push(label);
        }
        panel(32, 590, 460, 110);
        tuneText = text(56, 600, 20, INK, true);
        text(62, 662, 16, MUTED).text = "flat";
        text(424, 662, 16, MUTED).text = "sharp";
        root.graphics.lineStyle(3, 0x76553a);
        root.graphics.moveTo(62, 650);
        root.graphics.lineTo(462, 650);
        for (i in 0...9) {
            var x = 62 + i * 50;
            root.graphics.lineStyle(i == 4 ? 3 : 2, i == 4 ? 0x7bd389 : 0x76553a);
            root.graphics.moveTo(x, i == 4 ? 634 : 642);
            root.graphics.lineTo(x, 658);
        }
        needle = new Shape();
        root.addChild(needle);

        panel(520, 100, 472, 560);
        text(544, 116, 22, INK, true).text = "Maze";
        keyText = text(544, 676, 18, MUTED);

        drawStrings();
        drawTune();
        showKeys();

        stage.addEventListener(KeyboardEvent.KEY_DOWN, function(event:KeyboardEvent) {
            keys.push(keyName(event.keyCode));
            showKeys();
        });

        if (!ExternalInterface.available) return;
        ExternalInterface.addCallback("setTone", function(tone:Dynamic) {
            tones.push(tone);
            drawStrings();
            return null;
        });
        ExternalInterface.addCallback("setStringTune", function(value:Dynamic) {
            tunes.push(value);
            drawTune();
            return null;
        });
        ExternalInterface.addCallback("callHost", function(name:String, args:Array<Dynamic>):Dynamic {
            var all:Array<Dynamic> = [name];
            if (args != null) all = all.concat(args);
            return Reflect.callMethod(ExternalInterface, Reflect.field(ExternalInterface, "call"), all);
        });
        ExternalInterface.addCallback("report", function():Dynamic {
            return {
                page: pageName,
                history: history,
                maze: maze,
                tones: tones,
                tunes: tunes,
                keys: keys,
                monospace: isMonospace()
            };
        });

        history = ExternalInterface.call("getHistoryInfo");
        historyText.text = history == null ? "no history" :
            (history.canGoBack ? "◀ back" : "◁ no back") + "    " + (history.canGoForward ? "forward ▶" : "no forward ▷");
        historyText.x = WIDTH - 32 - historyText.width;
        maze = ExternalInterface.call("generateMaze", 21, 19);
        var mazeText = text(600, 170, 20, INK, false, "_typewriter");
        if (Std.isOfType(maze, String)) {
            var lines = [];
            var m:String = maze;
            var i = 0;
            while (i + 21 <= m.length) {
                lines.push(m.substr(i, 21));
                i += 21;
            }
            mazeText.text = lines.join("\n");
        }
    }

    // The maze's columns only line up in a monospaced font.
    static function isMonospace():Bool {
        var narrow = new TextField();
        narrow.defaultTextFormat = new TextFormat("_typewriter", 20);
        narrow.text = "iiiiiiiiii";
        var wide = new TextField();
        wide.defaultTextFormat = new TextFormat("_typewriter", 20);
        wide.text = "WWWWWWWWWW";
        return narrow.textWidth > 0 && Math.abs(narrow.textWidth - wide.textWidth) < 1;
    }

    static function keyName(code:UInt):String {
        return switch (code) {
            case 13: "Enter";
            case 27: "Escape";
            case 37: "ArrowLeft";
            case 38: "ArrowUp";
            case 39: "ArrowRight";
            case 40: "ArrowDown";
            default: "key " + code;
        };
    }

    static function showKeys() {
        keyText.text = keys.length == 0 ? "Keys: Esc and Enter reach this page" : "Last key: " + keys[keys.length - 1];
    }

    static function drawStrings() {
        var heard:Dynamic = tones.length == 0 ? null : tones[tones.length - 1];
        var g = strings.graphics;
        g.clear();
        for (i in 0...6) {
            var lit = heard == i + 1;
            var y = 220 + i * 58;
            g.lineStyle(6 - i * 0.8, lit ? ACCENT : 0xb8a283);
            g.moveTo(110, y);
            g.lineTo(460, y);
            if (lit) {
                g.lineStyle(0, 0, 0);
                g.beginFill(ACCENT);
                g.drawCircle(285, y, 14);
                g.endFill();
            }
            stringLabels[i].textColor = lit ? ACCENT : INK;
        }
        heardText.text = heard == null ? "Play an open string" : "Heard: the " + STRING_NAMES[Std.int(heard) - 1] + " string";
    }

    static function drawTune() {
        var value:Dynamic = tunes.length == 0 ? null : tunes[tunes.length - 1];
        var g = needle.graphics;
        g.clear();
        if (value == null) {
            tuneText.text = "Tuner: no clear sound";
            return;
        }
        var v:Float = Math.max(-1, Math.min(1, value));
        var inTune = Math.abs(v) < 0.1;
        tuneText.text = "Tuner: " + (inTune ? "in tune" : v > 0 ? "too low, tighten" : "too high, loosen");
        // A positive reading means the string sounds too low: the needle leans to "flat".
        var x = 262 - v * 200;
        g.lineStyle(0, 0, 0);
        g.beginFill(inTune ? 0x7bd389 : ACCENT);
        g.moveTo(x, 642);
        g.lineTo(x - 8, 630);
        g.lineTo(x + 8, 630);
        g.endFill();
        g.lineStyle(4, inTune ? 0x7bd389 : ACCENT);
        g.moveTo(x, 640);
        g.lineTo(x, 664);
    }
}
