// The start movie of the SWF test set, built as Loader.swf: it stays for the program's whole
// life, registers "loadSwf" and shows each page movie it is asked for inside itself, taking
// the name relative to the movie folder. A page that cannot be loaded leaves it running with
// a notice that names the page.
import flash.display.Loader;
import flash.display.Sprite;
import flash.display.StageScaleMode;
import flash.events.Event;
import flash.events.IOErrorEvent;
import flash.events.SecurityErrorEvent;
import flash.external.ExternalInterface;
import flash.net.URLRequest;
import flash.system.ApplicationDomain;
import flash.system.LoaderContext;
import flash.text.TextField;
import flash.text.TextFieldAutoSize;
import flash.text.TextFormat;
import flash.text.TextFormatAlign;

class LoaderMovie {
    static var holder:Sprite;
    static var notice:TextField;
    static var current:Loader;
    static var pending:Loader;
    static var shown:String = null;
    static var missing:String = null;
    static var requests:Int = 0;

    static function main() {
        var root = flash.Lib.current;
        if (root.stage != null) start() else root.addEventListener(Event.ADDED_TO_STAGE, function(_) start());
    }

    static function start() {
        var root = flash.Lib.current;
        // Haxe's start-up code pins the stage to the top left; the host centres it.
        root.stage.align = cast "";
        root.stage.scaleMode = StageScaleMode.SHOW_ALL;
        root.graphics.beginFill(0x1d130d);
        root.graphics.drawRect(0, 0, 1024, 768);
        root.graphics.endFill();
        holder = new Sprite();
        root.addChild(holder);

        notice = new TextField();
        notice.defaultTextFormat = new TextFormat("_sans", 30, 0xf0a030, true, null, null, null, null, TextFormatAlign.CENTER);
        notice.width = 900;
        notice.x = 62;
        notice.y = 340;
        notice.wordWrap = true;
        notice.autoSize = TextFieldAutoSize.CENTER;
        notice.visible = false;
        root.addChild(notice);

        if (!ExternalInterface.available) return;
        ExternalInterface.addCallback("loadSwf", loadSwf);
        ExternalInterface.addCallback("loaderState", function() {
            return {shown: shown, missing: missing, requests: requests, notice: notice.visible ? notice.text : null};
        });
        ExternalInterface.call("loadSwf", "Menu.swf");
    }

    // Answers at once: the host waits for the reply, not for the page.
    static function loadSwf(name:Dynamic):Dynamic {
        requests++;
        var page = Std.string(name);
        var loader = new Loader();
        pending = loader;
        var info = loader.contentLoaderInfo;
        info.addEventListener(Event.COMPLETE, function(_) {
            if (pending != loader) return;
            if (current != null) {
                holder.removeChild(current);
                current.unloadAndStop();
            }
            current = loader;
            holder.addChild(loader);
            shown = page;
            missing = null;
            notice.visible = false;
        });
        var failed = function(_) {
            if (pending != loader) return;
            missing = page;
            notice.text = "The page \"" + page + "\" is not there.";
            notice.visible = true;
            if (current != null) current.visible = false;
        };
        info.addEventListener(IOErrorEvent.IO_ERROR, failed);
        info.addEventListener(SecurityErrorEvent.SECURITY_ERROR, failed);
        // Each page in a domain of its own, so that the runtime classes of two haxe movies
        // never clash.
        loader.load(new URLRequest(page), new LoaderContext(false, new ApplicationDomain()));
        return null;
    }
}
