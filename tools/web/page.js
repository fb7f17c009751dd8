// The page's part: it hands the user's files to the programs and the
// programs' files back to the user. The programs run as on a command line:
// their arguments are what the check boxes and choices say, their input and
// output files lie in the module's in-memory file system, and every line
// they print is shown as it is. Standard input gives end of input at once,
// so a question the programs ask is answered no; each run starts in an empty
// folder, so they have none to ask.
"use strict";
(() => {
  const $ = (id) => document.getElementById(id);

  // What each version of the game runs, and how its pictures are laid out:
  // the shape sheet holds 32 x 32 shapes, TILES.CH in rows 0-15 and NPC.CH
  // in rows 16-31; the tile sheet 16 x 16 tiles, 16 to a row.
  const versions = {
    pc98: { extractor: "kzpc98shapes", changer: "kzpc98chg_shapes" },
    x68k: { extractor: "kzx68kshapes", changer: "kzx68kchg_shapes" },
    ega: { converter: "kzega_shapes" },
  };
  const sheet_cell = 32;
  const tile_cell = 16;
  const columns = 16;
  const adjustments = ["no-remake-water", "dungeon", "mirror-room"];

  // The files the user chose: name and bytes, by input.
  const chosen = { disk: null, sheet: null, mask: null, tiles: null };
  // Blob addresses of the current results, given back when replaced.
  let result_urls = [];
  let programs = null;
  let runs = 0;
  // One action at a time, in the order the user asked for them.
  let queue = Promise.resolve();

  const messages = $("messages");
  const status = $("status");
  let printed = [];

  // The programs' wasm, held in the page as base64 text.
  const wasm_text = $("programs-wasm").textContent;
  const wasm = Uint8Array.from(atob(wasm_text), (c) => c.charCodeAt(0));

  function load_programs() {
    return kz_load_programs({
      wasmBinary: wasm,
      print: (line) => printed.push(line),
      printErr: (line) => printed.push(line),
      stdin: () => null,
    });
  }

  function version() {
    return versions[$("version").value] ? $("version").value : "pc98";
  }

  function picture_extension() {
    return $("format").value === "bmp" ? ".bmp" : ".png";
  }

  function adjustment_options() {
    return adjustments.filter((id) => $(id).checked).map((id) => "--" + id);
  }

  // An empty folder for every run, so that no program finds an output of an
  // earlier run and asks whether to overwrite it.
  function fresh_folder() {
    const fs = programs.FS;
    fs.chdir("/");
    const remove = (path) => {
      for (const name of fs.readdir(path)) {
        if (name === "." || name === "..") continue;
        const inner = path + "/" + name;
        if (fs.isDir(fs.stat(inner).mode)) {
          remove(inner);
          fs.rmdir(inner);
        } else {
          fs.unlink(inner);
        }
      }
    };
    if (fs.analyzePath("/run").exists) {
      remove("/run");
    } else {
      fs.mkdir("/run");
    }
    fs.chdir("/run");
  }

  // Puts an input into the run's folder under the name the user knows it by.
  // A name already taken by another input of the run goes into a folder of
  // its own, and one that begins with "-" gets "./" before it, which would
  // otherwise be taken for an option.
  function place(file, folder, taken) {
    const fs = programs.FS;
    let path = file.name;
    if (taken.has(path)) {
      fs.mkdir(folder);
      path = folder + "/" + file.name;
    }
    taken.add(path);
    fs.writeFile(path, file.bytes);
    return path.startsWith("-") ? "./" + path : path;
  }

  // Runs one program; its status is -1 when it stopped without returning
  // (the module is then loaded anew for the next run).
  function run_program(name, args) {
    printed = [];
    let code;
    try {
      code = programs.callMain([name, ...args]);
    } catch (error) {
      printed.push(`${name} stopped: ${error}`);
      code = -1;
      programs = null;
    }
    const text = printed.length ? printed.join("\n") + "\n" : "";
    return { code, text };
  }

  function shell_word(word) {
    return /^[\w.\/=-]+$/.test(word) ? word : "'" + word.replace(/'/g, "'\\''") + "'";
  }

  function clear_results() {
    for (const url of result_urls) URL.revokeObjectURL(url);
    result_urls = [];
    $("downloads").replaceChildren();
    $("pictures").replaceChildren();
    $("cell").textContent = "";
  }

  function offer(path, mime) {
    const bytes = programs.FS.readFile(path);
    const url = URL.createObjectURL(new Blob([bytes], { type: mime }));
    result_urls.push(url);
    const name = path.slice(path.lastIndexOf("/") + 1);
    const link = document.createElement("a");
    link.href = url;
    link.download = name;
    link.textContent = name;
    const item = document.createElement("li");
    item.append(link, ` (${bytes.length} bytes)`);
    $("downloads").append(item);
    return url;
  }

  function mime_of(path) {
    if (path.endsWith(".png")) return "image/png";
    if (path.endsWith(".bmp")) return "image/bmp";
    return "application/octet-stream";
  }

  // What a cell of a picture is: the shape's file and number, or the tile's.
  function describe_cell(kind, row, column) {
    if (kind === "tiles") {
      const file = $("cga").checked ? "TILES.4" : "TILES.16";
      return `${file} tile ${row * columns + column} (row ${row}, column ${column})`;
    }
    const file = row < 16 ? "TILES.CH" : "NPC.CH";
    const number = (row % 16) * columns + column;
    return `${file} shape ${number} (sheet row ${row}, column ${column})`;
  }

  // A picture at twice its size, every pixel a square of four. Pointing at
  // it, or moving through it with the arrow keys, tells which shape or tile
  // is where.
  function show_picture(url, title, kind) {
    const cell = kind === "tiles" ? tile_cell : sheet_cell;
    const figure = document.createElement("figure");
    const frame = document.createElement("div");
    frame.className = "sheet";
    frame.tabIndex = 0;
    frame.setAttribute("role", "group");
    frame.setAttribute("aria-label", `${title}: arrow keys move from ${kind === "tiles" ? "tile" : "shape"} to ${kind === "tiles" ? "tile" : "shape"}`);
    const img = document.createElement("img");
    img.src = url;
    img.alt = title;
    const cursor = document.createElement("div");
    cursor.className = "cursor";
    cursor.hidden = true;
    frame.append(img, cursor);
    const caption = document.createElement("figcaption");
    caption.textContent = title;
    figure.append(frame, caption);
    $("pictures").append(figure);

    let at = { row: 0, column: 0 };
    const rows = () => Math.floor(img.naturalHeight / cell);
    const point = () => {
      const scale = img.clientWidth / img.naturalWidth;
      cursor.style.left = `${at.column * cell * scale}px`;
      cursor.style.top = `${at.row * cell * scale}px`;
      cursor.style.width = cursor.style.height = `${cell * scale}px`;
      cursor.hidden = false;
      const text = describe_cell(kind, at.row, at.column);
      img.title = text;
      $("cell").textContent = `${title}: ${text}`;
    };
    img.addEventListener("load", () => {
      // Twice the size, as far as the window allows.
      img.style.width = `${img.naturalWidth * 2}px`;
    });
    img.addEventListener("mousemove", (event) => {
      const scale = img.naturalWidth / img.clientWidth;
      at = {
        row: Math.min(rows() - 1, Math.floor((event.offsetY * scale) / cell)),
        column: Math.min(columns - 1, Math.floor((event.offsetX * scale) / cell)),
      };
      point();
    });
    img.addEventListener("mouseleave", () => { cursor.hidden = true; });
    frame.addEventListener("focus", point);
    frame.addEventListener("blur", () => { cursor.hidden = true; });
    frame.addEventListener("keydown", (event) => {
      const moves = { ArrowUp: [-1, 0], ArrowDown: [1, 0], ArrowLeft: [0, -1], ArrowRight: [0, 1] };
      const move = moves[event.key];
      if (!move) return;
      event.preventDefault();
      at = {
        row: Math.max(0, Math.min(rows() - 1, at.row + move[0])),
        column: Math.max(0, Math.min(columns - 1, at.column + move[1])),
      };
      point();
    });
  }

  // One action of the user: one program run or several in a row, each run
  // given the inputs it needs in a fresh folder. The first that fails ends
  // the action; its messages are shown and nothing is offered.
  async function act(steps) {
    await ready;
    if (!programs) programs = await load_programs();
    const begun = performance.now();
    messages.dataset.state = "running";
    status.dataset.state = "running";
    status.textContent = "Working…";
    clear_results();
    let text = "";
    const commands = [];
    let failed = null;
    const results = [];
    for (const step of steps) {
      fresh_folder();
      const taken = new Set();
      const args = step.args((file, folder) => place(file, folder, taken));
      commands.push([step.program, ...args].map(shell_word).join(" "));
      const before = new Set(programs.FS.readdir("."));
      const { code, text: printed_text } = run_program(step.program, args);
      text += printed_text;
      if (code !== 0) {
        failed = `${step.program} ended with status ${code}.`;
        break;
      }
      const made = step.outputs || programs.FS.readdir(".").filter((name) => !before.has(name));
      for (const path of made) {
        results.push({ path, url: offer(path, mime_of(path)), show: step.show && step.show(path) });
      }
    }
    messages.textContent = text;
    $("command").textContent = commands.join("\n");
    if (failed) {
      clear_results();
      status.textContent = `Failed: ${failed} Nothing to download.`;
    } else {
      for (const result of results) {
        if (result.show) show_picture(result.url, result.show.title, result.show.kind);
      }
      const names = results.map((result) => result.path).join(", ");
      status.textContent = `Done in ${Math.round(performance.now() - begun)} ms: ${names}.`;
    }
    status.dataset.ms = String(performance.now() - begun);
    const state = failed ? "failed" : "done";
    status.dataset.state = state;
    runs += 1;
    messages.dataset.runs = String(runs);
    messages.dataset.state = state;
  }

  function schedule(steps) {
    queue = queue.then(() => act(steps)).catch((error) => {
      status.textContent = `The page failed: ${error}`;
      status.dataset.state = messages.dataset.state = "failed";
    });
  }

  function note(text) {
    status.textContent = text;
  }

  // With --mask-in-sheet the sheet is the one picture: its colours 8-15
  // carry the fourth plane, and no mask is written.
  function extract() {
    if (!chosen.disk) return;
    const ext = picture_extension();
    const sheet = "shapes" + ext;
    const mask = "mask" + ext;
    const in_sheet = $("mask-in-sheet").checked;
    const pictures = in_sheet ? [sheet] : [sheet, mask];
    schedule([{
      program: versions[version()].extractor,
      args: (put) => ["--disk", put(chosen.disk, "disk"), ...adjustment_options(),
                      ...(in_sheet ? ["--mask-in-sheet"] : []), ...pictures],
      outputs: pictures,
      show: (path) => (path === sheet ? { title: "Shape sheet " + sheet, kind: "shapes" }
                                      : { title: "Mask " + mask, kind: "shapes" }),
    }]);
  }

  // The change is two runs of the changer: a check that reports what the
  // change will do and draws it (--check, --check-picture), shown first,
  // then the change itself, whose image is offered. With the mask-in-sheet
  // box the sheet carries its own mask, and no mask picture goes with it.
  function change() {
    if (!chosen.sheet) {
      if (chosen.mask) note("Choose the edited shape sheet too: the mask goes in with it.");
      return;
    }
    if (!chosen.disk) {
      note("Choose the disk image under 1. Extract first: the change is made to a copy of it.");
      return;
    }
    const only = $("only").value;
    const in_sheet = $("mask-in-sheet").checked;
    const picture = "check" + picture_extension();
    const changer_args = (put, check) => {
      const args = ["--disk", put(chosen.disk, "disk")];
      if (only) args.push(only);
      if (in_sheet) args.push("--mask-in-sheet");
      args.push(...check);
      args.push(put(chosen.sheet, "sheet"));
      if (chosen.mask && !in_sheet) args.push(put(chosen.mask, "mask"));
      return args;
    };
    const changer = versions[version()].changer;
    schedule([{
      program: changer,
      args: (put) => changer_args(put, ["--check", "--check-picture", picture]),
      outputs: [picture],
      show: () => ({ title: "What the change does " + picture, kind: "shapes" }),
    }, {
      program: changer,
      args: (put) => changer_args(put, []),
    }]);
  }

  function convert() {
    if (!chosen.tiles) return;
    const cga = $("cga").checked;
    const output = (cga ? "tiles4" : "tiles16") + picture_extension();
    schedule([{
      program: versions.ega.converter,
      args: (put) => [...(cga ? ["--cga"] : []), ...adjustment_options(), put(chosen.tiles, "tiles"), output],
      outputs: [output],
      show: () => ({ title: "Tile sheet " + output, kind: "tiles" }),
    }]);
  }

  // What choosing a file in each input starts.
  const starts = { disk: extract, sheet: change, mask: change, tiles: convert };

  async function take(id, file) {
    chosen[id] = file ? { name: file.name, bytes: new Uint8Array(await file.arrayBuffer()) } : null;
    starts[id]();
  }

  function show_version() {
    const kind = version() === "ega" ? "ega" : "disk";
    for (const element of document.querySelectorAll("[data-for]")) {
      element.hidden = element.dataset.for !== kind;
    }
  }

  // The current inputs again, after a choice that changes what they give.
  function again() {
    if (version() === "ega") convert();
    else extract();
  }

  for (const id of Object.keys(starts)) {
    const input = $(id);
    input.addEventListener("change", () => take(id, input.files[0] || null));
  }
  for (const zone of document.querySelectorAll(".drop")) {
    const input = $(zone.dataset.input);
    zone.addEventListener("dragover", (event) => {
      event.preventDefault();
      zone.classList.add("over");
    });
    zone.addEventListener("dragleave", () => zone.classList.remove("over"));
    zone.addEventListener("drop", (event) => {
      event.preventDefault();
      zone.classList.remove("over");
      const files = event.dataTransfer.files;
      if (files.length === 0) return;
      input.files = files;
      take(zone.dataset.input, files[0]);
    });
  }
  // A file dropped beside a drop zone would make the browser leave the page.
  window.addEventListener("dragover", (event) => event.preventDefault());
  window.addEventListener("drop", (event) => event.preventDefault());

  $("version").addEventListener("change", () => {
    show_version();
    again();
  });
  for (const id of [...adjustments, "mask-in-sheet", "cga", "format"]) {
    $(id).addEventListener("change", again);
  }
  $("only").addEventListener("change", change);
  show_version();

  const ready = load_programs().then((loaded) => {
    programs = loaded;
    // From the start of the page's loading on.
    status.dataset.readyMs = String(performance.now());
    status.dataset.state = "ready";
    status.textContent = "Ready: choose a file.";
  }).catch((error) => {
    status.dataset.state = "failed";
    status.textContent = `The programs could not be loaded: ${error}`;
  });
})();
