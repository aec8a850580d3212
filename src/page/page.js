// The world's page: decodes the cells that travel inside it, paints them with
// the tool's own layers and blend, and lets a player find things: every match
// marked at every zoom, stepped through nearest first, types by their names,
// counts by depth. Plain JavaScript, nothing fetched: everything it needs is in
// the page. The cells' format is docs/page-cells.md.
"use strict";
(() => {
  const CHUNK = 2048;          // the map's image is kept in pieces of at most this many cells a side
  const CELLS_A_TASK = 1 << 19; // cells painted, unpacked or counted before the page lets the browser in
  const LAYERS = ["background", "walls", "tiles", "liquids", "levels"];
  const LETTERS = { background: "b", walls: "w", tiles: "t", liquids: "l", levels: "v" };
  const BAND_WORDS = ["sky", "underground", "rock layer"];
  const DIM = "rgba(0, 0, 0, 0.62)"; // laid over the map while a find marks cells
  const MARK = 0xff00e6ff;           // a mark's colour, packed RGBA: bright yellow over the dimmed map
  const CURRENT = "#00e5ff";         // the ring around the current match
  // What a tab takes a cell, at most (docs/performance.md), and what the page lets a world take.
  const BYTES_A_CELL = 12;
  const LARGEST_TAB = 4 * 2 ** 30;

  const $ = (id) => document.getElementById(id);
  const world = JSON.parse($("wldmap-world").textContent);
  const { width: W, height: H, colors } = world;
  const names = { tiles: world.names?.tiles ?? {}, walls: world.names?.walls ?? {} };
  const KNOWN_WALLS = colors.walls.length;  // walls 1 to this - 1 have a colour
  const signed = (byte) => (byte > 127 ? byte - 256 : byte);
  const count = (n) => n.toLocaleString("en");

  // The cells, column by column (cell i is x = i / H, y = i % H): flags (1 a
  // tile, 2 lava where there is liquid) two bits a cell, four cells a byte; the
  // tile type (0 where there is no tile), wall and liquid a byte each.
  let flagBits, types, walls, liquids;
  const flagsOf = (i) => (flagBits[i >> 2] >> ((i & 3) << 1)) & 3;
  let chunks = [];                  // { x0, y0, w, h, image: its canvas }
  let layers = { background: true, walls: true, tiles: true, liquids: true, levels: false };
  let table = null;                 // the composited colour of each kind of cell
  let view = { x: W / 2, y: H / 2, zoom: 1 };  // the cell at the centre; CSS pixels a cell
  let finding = null;               // see find()
  let selected = null;              // the cell the readout is pinned on, [x, y]
  let byDepth = null;               // cells of each tile type, wall and liquid in each band
  let isReady = false;

  // Lets the browser in between two pieces of long work: a task of its own,
  // without the clamping of nested timers.
  const channel = new MessageChannel();
  const waiting = [];
  channel.port1.onmessage = () => waiting.shift()();
  const nextTask = () => new Promise((resolve) => {
    waiting.push(resolve);
    channel.port2.postMessage(0);
  });

  // Names and words.

  const tileName = (type) => names.tiles[String(type)];
  const wallName = (type) => names.walls[String(type)];
  const tileLabel = (type) => (tileName(type) ? `${tileName(type)} (${type})` : `tile ${type}`);
  const wallLabel = (type) => (wallName(type) ? `${wallName(type)} (wall ${type})` : `wall ${type}`);
  function liquidWords(cell) {
    const amount = cell.liquid === 255 ? "full" : `${Math.min(99, Math.max(1, Math.round(cell.liquid / 2.55)))} %`;
    return `${cell.lava ? "lava" : "water"}, ${amount}`;
  }

  // Which band row y lies in: 0 sky, 1 underground, 2 rock (the rock level wins).
  const bandOf = (y) => (y >= world.rockStart ? 2 : y >= world.groundStart ? 1 : 0);
  const rowBands = Uint8Array.from({ length: H }, (_, y) => bandOf(y));

  function depthWords(y) {
    const below = y + 1 - world.groundStart;  // the last row of the sky is the surface's
    if (below === 0) return "at the surface";
    return `${count(Math.abs(below))} ${below > 0 ? "below" : "above"} the surface`;
  }

  // Painting: the tool's blend, composited once for every kind of cell.

  // Blends `layer` onto `under` by the layer's alpha, keeping under's alpha:
  // the tool's own rule, in whole numbers, so that every byte matches.
  function blend(under, layer) {
    const a = layer[3];
    if (a === 0) return under;
    if (a === 255) return [layer[0], layer[1], layer[2], under[3]];
    const rest = 255 - a;
    return [0, 1, 2].map((c) => Math.floor((under[c] * rest + layer[c] * a) / 255)).concat(under[3]);
  }
  const packed = (c) => ((c[3] << 24) | (c[2] << 16) | (c[1] << 8) | c[0]) >>> 0;

  // Every combination of what lies under the tile (three bands, then each
  // known wall), the tile (its type byte, or 256 for none) and the liquid
  // (none, water, lava), composited with the layers `shown`, as packed RGBA.
  function buildTable(shown) {
    const black = [0, 0, 0, 255];
    const backgrounds = shown.background ? [colors.sky, colors.underground, colors.rock] : [black, black, black];
    const unders = 2 + KNOWN_WALLS;
    const t = new Uint32Array(unders * 257 * 3);
    for (let under = 0; under < unders; ++under) {
      // A wall covers the background whole; the tool blends it over the row's.
      const base = under < 3 ? backgrounds[under] : blend(backgrounds[2], colors.walls[under - 2]);
      for (let tile = 0; tile < 257; ++tile) {
        const withTile = tile < 256 && shown.tiles ? blend(base, colors.tiles[tile]) : base;
        for (let liquid = 0; liquid < 3; ++liquid) {
          const c = liquid && shown.liquids ? blend(withTile, liquid === 2 ? colors.lava : colors.water) : withTile;
          t[(under * 257 + tile) * 3 + liquid] = packed(c);
        }
      }
    }
    return t;
  }

  // Paints the w x h cells at (x0, y0) into out[offset + row * stride + column],
  // column by column within bands of rows, so that the cells are read in their
  // own order and the rows written stay in the cache.
  function paintInto(out, offset, stride, x0, y0, w, h) {
    const t = table, wallsShown = layers.walls, bands = rowBands;
    for (let top = 0; top < h; top += 64) {
      const rows = Math.min(64, h - top);
      for (let x = 0; x < w; ++x) {
        const column = (x0 + x) * H + y0 + top;
        for (let r = 0, o = offset + top * stride + x; r < rows; ++r, o += stride) {
          const i = column + r;
          const wall = walls[i];
          const under = wallsShown && wall >= 1 && wall < KNOWN_WALLS ? wall + 2 : bands[y0 + top + r];
          const f = (flagBits[i >> 2] >> ((i & 3) << 1)) & 3;
          const tile = f & 1 ? types[i] : 256;
          const liquid = liquids[i] === 0 ? 0 : f & 2 ? 2 : 1;
          out[o] = t[(under * 257 + tile) * 3 + liquid];
        }
      }
    }
  }

  // Paints every piece of the map anew after the layers change, the pieces
  // nearest the view first, a band of rows a task, into one buffer of pixels
  // that is then put on the piece's own canvas whole (Firefox keeps an image
  // bitmap's pixels twice, a canvas's once). A newer repaint stops an older one.
  // `quietly`: no drawing until every piece is in.
  let painting = 0;
  let pixelBuffer = null;
  async function repaint(quietly) {
    const generation = ++painting;
    table = buildTable(layers);
    if (!pixelBuffer) pixelBuffer = new ImageData(Math.min(CHUNK, W), Math.min(CHUNK, H));
    const out = new Uint32Array(pixelBuffer.data.buffer), stride = pixelBuffer.width;
    const distance = (c) => Math.hypot(c.x0 + c.w / 2 - view.x, c.y0 + c.h / 2 - view.y);
    for (const chunk of [...chunks].sort((a, b) => distance(a) - distance(b))) {
      const rows = Math.max(1, Math.floor(CELLS_A_TASK / chunk.w));
      for (let top = 0; top < chunk.h; top += rows) {
        paintInto(out, top * stride, stride, chunk.x0, chunk.y0 + top, chunk.w, Math.min(rows, chunk.h - top));
        await nextTask();
        if (generation !== painting) return;
      }
      if (!chunk.image) {
        chunk.image = document.createElement("canvas");
        [chunk.image.width, chunk.image.height] = [chunk.w, chunk.h];
      }
      chunk.image.getContext("2d").putImageData(pixelBuffer, 0, 0, 0, 0, chunk.w, chunk.h);
      if (!quietly) scheduleDraw();
    }
  }

  // The view.

  const canvas = $("view");
  const screen = canvas.getContext("2d", { alpha: false });
  const ratio = () => canvas.width / Math.max(1, canvas.clientWidth);  // device pixels a CSS pixel
  let marks = null;  // the find's marks over the screen, packed RGBA
  let drawPending = false;

  const fitZoom = () => Math.min(canvas.clientWidth / W, canvas.clientHeight / H) || 1;

  function resize() {
    const dpr = window.devicePixelRatio || 1;
    canvas.width = Math.max(1, Math.round(canvas.clientWidth * dpr));
    canvas.height = Math.max(1, Math.round(canvas.clientHeight * dpr));
    marks = null;
    draw();
  }

  // Where the view puts the cells: the screen pixel of cell edge (X, Y), the
  // same for both pieces that meet at an edge so that no seam shows between
  // them, and the cells on screen.
  function placement() {
    const z = view.zoom * ratio();
    const left = canvas.width / 2 - view.x * z, top = canvas.height / 2 - view.y * z;
    return {
      z,
      ex: (X) => Math.round(left + X * z),
      ey: (Y) => Math.round(top + Y * z),
      x0: Math.max(0, Math.floor(-left / z)), x1: Math.min(W, Math.ceil((canvas.width - left) / z)),
      y0: Math.max(0, Math.floor(-top / z)), y1: Math.min(H, Math.ceil((canvas.height - top) / z)),
    };
  }

  function draw() {
    if (!isReady) return;
    const p = placement();
    screen.setTransform(1, 0, 0, 1, 0, 0);
    screen.imageSmoothingEnabled = false;
    screen.fillStyle = "#101114";
    screen.fillRect(0, 0, canvas.width, canvas.height);
    for (const chunk of chunks) {
      const sx0 = Math.max(p.x0, chunk.x0), sx1 = Math.min(p.x1, chunk.x0 + chunk.w);
      const sy0 = Math.max(p.y0, chunk.y0), sy1 = Math.min(p.y1, chunk.y0 + chunk.h);
      if (!chunk.image || sx1 <= sx0 || sy1 <= sy0) continue;
      const dx = p.ex(sx0), dy = p.ey(sy0);
      screen.drawImage(chunk.image, sx0 - chunk.x0, sy0 - chunk.y0, sx1 - sx0, sy1 - sy0,
                       dx, dy, p.ex(sx1) - dx, p.ey(sy1) - dy);
    }
    if (finding && finding.total > 0) drawFind(p);
    if (layers.levels) drawLevels(p);
    // The pinned cell is framed, unless the current match's ring marks it already.
    const current = finding && finding.total > 0 ? finding.at : null;
    if (selected && !(current && current[0] === selected[0] && current[1] === selected[1])) {
      ring(p, selected[0], selected[1], "#ffffff", false);
    }
  }

  function scheduleDraw() {
    if (drawPending) return;
    drawPending = true;
    requestAnimationFrame(() => {
      drawPending = false;
      draw();
    });
  }

  // A find over the map: the map dimmed, each match on screen marked at least
  // three screen pixels a side (a large cell shown undimmed in a frame), and a
  // ring around the current match.
  function drawFind(p) {
    screen.fillStyle = DIM;
    screen.fillRect(p.ex(0), p.ey(0), p.ex(W) - p.ex(0), p.ey(H) - p.ey(0));
    if (p.z >= 8) {
      screen.beginPath();
      eachMatch(p.x0, p.x1, p.y0, p.y1, (x, y) => {
        const dx = p.ex(x), dy = p.ey(y), w = p.ex(x + 1) - dx, h = p.ey(y + 1) - dy;
        const chunk = chunks[Math.floor(y / CHUNK) * Math.ceil(W / CHUNK) + Math.floor(x / CHUNK)];
        if (chunk.image) screen.drawImage(chunk.image, x - chunk.x0, y - chunk.y0, 1, 1, dx, dy, w, h);
        screen.rect(dx + 1, dy + 1, w - 2, h - 2);
      });
      screen.strokeStyle = "#ffe600";
      screen.lineWidth = 2;
      screen.stroke();
    } else if (markMatches(p)) {
      // Put on a canvas of their own first, so that they are laid over the map.
      const layer = markLayer(canvas.width, canvas.height);
      layer.getContext("2d").putImageData(marks.image, 0, 0);
      screen.drawImage(layer, 0, 0);
    }
    if (finding.at) ring(p, finding.at[0], finding.at[1], CURRENT, true);
  }

  // Marks the matches on screen in `marks`: the screen pixel at each one's
  // centre, then every such pixel grown to a square of `side` pixels, across
  // and then down, so that the work is bounded by the screen's pixels however
  // many cells each one covers. Whether any match is on screen.
  function markMatches(p) {
    const cw = canvas.width, ch = canvas.height;
    if (!marks || marks.image.width !== cw || marks.image.height !== ch) {
      marks = { image: new ImageData(cw, ch), hit: new Uint8Array(cw * ch), across: new Uint8Array(cw * ch) };
    }
    const { hit, across } = marks;
    const out = new Uint32Array(marks.image.data.buffer);
    hit.fill(0);
    const columnAt = new Int32Array(p.x1 - p.x0), rowAt = new Int32Array(p.y1 - p.y0);
    for (let x = p.x0; x < p.x1; ++x) columnAt[x - p.x0] = Math.min(cw - 1, Math.max(0, Math.floor((p.ex(x) + p.ex(x + 1)) / 2)));
    for (let y = p.y0; y < p.y1; ++y) rowAt[y - p.y0] = Math.min(ch - 1, Math.max(0, Math.floor((p.ey(y) + p.ey(y + 1)) / 2))) * cw;
    let any = false;
    eachMatch(p.x0, p.x1, p.y0, p.y1, (x, y) => {
      hit[rowAt[y - p.y0] + columnAt[x - p.x0]] = 1;
      any = true;
    });
    if (!any) return false;
    const side = Math.max(3, Math.round(2 * ratio()), Math.ceil(p.z)), back = (side - 1) >> 1;
    across.fill(0);
    for (let row = 0; row < ch; ++row) {
      for (let i = row * cw, end = i + cw; i < end; ++i) {
        if (hit[i] === 0) continue;
        const from = Math.max(row * cw, i - back), to = Math.min(end, i - back + side);
        for (let k = from; k < to; ++k) across[k] = 1;
      }
    }
    out.fill(0);
    for (let i = 0; i < cw * ch; ++i) {
      if (across[i] === 0) continue;
      const column = i % cw, top = Math.max(0, Math.floor(i / cw) - back), bottom = Math.min(ch, top + side);
      for (let row = top; row < bottom; ++row) out[row * cw + column] = MARK;
    }
    return true;
  }

  let markCanvas = null;
  function markLayer(w, h) {
    if (!markCanvas) markCanvas = document.createElement("canvas");
    if (markCanvas.width !== w || markCanvas.height !== h) [markCanvas.width, markCanvas.height] = [w, h];
    return markCanvas;
  }

  // A frame around cell (x, y), or a ring when `round`, large enough to be seen
  // at any zoom, with a dark edge so that it shows on light cells too.
  function ring(p, x, y, color, round) {
    const cx = (p.ex(x) + p.ex(x + 1)) / 2, cy = (p.ey(y) + p.ey(y + 1)) / 2;
    const r = Math.max(12 * ratio(), (p.ex(x + 1) - p.ex(x)) * 0.75);
    screen.beginPath();
    if (round) screen.arc(cx, cy, r, 0, 2 * Math.PI);
    else screen.rect(cx - r, cy - r, 2 * r, 2 * r);
    screen.lineWidth = 5 * ratio();
    screen.strokeStyle = "#000";
    screen.stroke();
    screen.lineWidth = 2.5 * ratio();
    screen.strokeStyle = color;
    screen.stroke();
  }

  // The surface and rock levels as thin lines across the world, named at the left.
  function drawLevels(p) {
    const lines = [[world.groundStart, "surface", "#7dffa0"], [world.rockStart, "rock level", "#ffae5c"]];
    screen.font = `${Math.round(11 * ratio())}px system-ui, sans-serif`;
    for (const [row, label, color] of lines) {
      if (row <= 0 || row >= H) continue;
      const y = p.ey(row), x0 = Math.max(0, p.ex(0)), x1 = Math.min(canvas.width, p.ex(W));
      screen.fillStyle = color;
      screen.fillRect(x0, y - Math.floor(ratio() / 2), x1 - x0, Math.max(1, Math.round(ratio())));
      screen.fillText(label, x0 + 4 * ratio(), y - 4 * ratio());
    }
  }

  // The cell under CSS point (px, py) of the canvas, in fractions.
  function cellAtPoint(px, py) {
    return { x: view.x + (px - canvas.clientWidth / 2) / view.zoom, y: view.y + (py - canvas.clientHeight / 2) / view.zoom };
  }

  function setView(next, keepAddress) {
    const smallest = Math.min(fitZoom(), 1) / 4;
    const zoom = Math.min(256, Math.max(smallest, Number(next.zoom ?? view.zoom)));
    const x = Math.min(W, Math.max(0, Number(next.x ?? view.x)));
    const y = Math.min(H, Math.max(0, Number(next.y ?? view.y)));
    if (![x, y, zoom].every(Number.isFinite)) return;
    view = { x, y, zoom };
    scheduleDraw();
    if (!keepAddress) rememberInAddress();
  }

  // Zooms by `factor`, keeping the cell under CSS point (px, py) in place.
  function zoomAt(factor, px, py) {
    const at = cellAtPoint(px, py);
    const zoom = view.zoom * factor;
    setView({ zoom, x: at.x - (px - canvas.clientWidth / 2) / zoom, y: at.y - (py - canvas.clientHeight / 2) / zoom });
  }

  const fit = () => setView({ x: W / 2, y: H / 2, zoom: fitZoom() });
  const centreOn = ([x, y]) => setView({ x: x + 0.5, y: y + 0.5 });

  // The address keeps the view, the layers, the find and the pinned cell, so
  // that a link shows the same spot.
  let addressTimer = 0;
  function rememberInAddress() {
    clearTimeout(addressTimer);
    addressTimer = setTimeout(() => {
      const shown = LAYERS.filter((name) => layers[name]).map((name) => LETTERS[name]).join("");
      const params = new URLSearchParams({
        x: +view.x.toFixed(2), y: +view.y.toFixed(2), zoom: +view.zoom.toFixed(4), layers: shown || "-",
      });
      if (finding) params.set("find", finding.query);
      if (selected) params.set("cell", selected.join(","));
      history.replaceState(null, "", "#" + params.toString());
    }, 150);
  }

  function restoreFromAddress() {
    const params = new URLSearchParams(location.hash.slice(1));
    if (params.has("layers")) {
      const letters = params.get("layers");
      setLayers(Object.fromEntries(LAYERS.map((name) => [name, letters.includes(LETTERS[name])])), true);
    }
    if (params.has("zoom") || params.has("x") || params.has("y")) {
      setView({ x: params.get("x") ?? view.x, y: params.get("y") ?? view.y, zoom: params.get("zoom") ?? view.zoom }, true);
    } else {
      view = { x: W / 2, y: H / 2, zoom: fitZoom() };
    }
    find(params.get("find") || null, { keepView: true, keepAddress: true });
    const cell = (params.get("cell") || "").split(",").map(Number);
    select(cell.length === 2 ? cell[0] : NaN, cell[1], true);
  }

  // Cells.

  function cellAt(x, y) {
    if (!isReady || !Number.isInteger(x) || !Number.isInteger(y) || x < 0 || y < 0 || x >= W || y >= H) return null;
    const i = x * H + y;
    const active = (flagsOf(i) & 1) === 1;
    return {
      active,
      type: active ? signed(types[i]) : null,
      wall: signed(walls[i]),
      liquid: liquids[i],
      lava: liquids[i] !== 0 && (flagsOf(i) & 2) === 2,
    };
  }

  // The readout: a cell's place and what it holds, in words; pinned, with a
  // button to find each thing it holds.
  function showCell(x, y) {
    const readout = $("readout");
    const cell = cellAt(x, y);
    readout.classList.toggle("pinned", !!selected && !!cell);
    if (!cell) {
      readout.textContent = "Point at or tap a cell";
      return;
    }
    const parts = [[`${x}, ${y}`], [depthWords(y)], [`in the ${BAND_WORDS[bandOf(y)]}`],
      cell.active ? [tileLabel(cell.type), { kind: "tile", type: cell.type }] : ["no tile", null, true],
      cell.wall !== 0 ? [wallLabel(cell.wall), { kind: "wall", type: cell.wall }] : ["no wall", null, true],
      cell.liquid !== 0 ? [liquidWords(cell), { kind: "liquid", type: cell.lava ? "lava" : "water" }]
                        : ["no liquid", null, true]];
    readout.replaceChildren(...parts.flatMap(([text, query, quiet], index) => {
      const part = document.createElement("span");
      part.className = quiet ? "part quiet" : "part";
      part.textContent = text;
      if (query && selected) {
        const button = document.createElement("button");
        button.type = "button";
        button.textContent = "find";
        button.title = `Mark every cell of ${text}`;
        button.addEventListener("click", () => {
          find(query);
          canvas.focus();
        });
        part.append(button);
      }
      if (!index) return [part];
      const separator = document.createElement("span");
      separator.className = "sep";
      separator.textContent = " \u00b7 ";
      return [separator, part];
    }));
  }

  // Pins the readout on cell (x, y), or lets it go (null, or a cell outside).
  function select(x, y, keepAddress) {
    selected = isReady && cellAt(x, y) ? [x, y] : null;
    if (selected) showCell(x, y);
    else showCell(-1, -1);
    scheduleDraw();
    if (!keepAddress) rememberInAddress();
    return selected;
  }

  function setLayers(next, keepAddress) {
    const changed = LAYERS.filter((name) => name in next && Boolean(next[name]) !== layers[name]);
    layers = Object.fromEntries(LAYERS.map((name) => [name, name in next ? Boolean(next[name]) : layers[name]]));
    for (const box of document.querySelectorAll("#layers input")) box.checked = layers[box.name];
    for (const row of document.querySelectorAll("#legend tbody tr")) {
      const hidden = !layers[`${row.dataset.kind}s`];
      row.classList.toggle("hidden", hidden);
      row.title = hidden ? `${row.dataset.kind}s are hidden` : "";
      row.cells[1].dataset.hidden = hidden ? " (hidden)" : "";
    }
    if (isReady && changed.some((name) => name !== "levels")) repaint();
    if (isReady) scheduleDraw();
    if (!keepAddress) rememberInAddress();
  }

  // Finding.

  // Calls visit(x, y) for every match in columns x0 to x1 - 1, rows y0 to
  // y1 - 1, column by column, each from the top, until it returns true; whether
  // one did.
  function eachMatch(x0, x1, y0, y1, visit) {
    const bits = finding.bits;
    for (let x = x0; x < x1; ++x) {
      const base = x * H, end = base + y1;
      for (let i = base + y0; i < end;) {
        const word = bits[i >>> 5] >>> (i & 31);
        if (word === 0) {
          i = (i | 31) + 1;
          continue;
        }
        i += 31 - Math.clz32(word & -word);
        if (i >= end) break;
        if (visit(x, i - base) === true) return true;
        ++i;
      }
    }
    return false;
  }

  // What the find box, an address or a script asks for: a tile type (a
  // number), a text that names tile types, or {kind, type}; null clears.
  // Returns { query, label, kind, match } or { query, label, none } for one
  // that cannot match; a cell matches where match.table[match.plane[i]] is 1
  // and its flags masked by match.mask are match.flags.
  function parseQuery(query) {
    if (query === null || query === undefined || query === "") return null;
    if (typeof query === "object") {
      const { kind, type } = query;
      if (kind === "tile") return parseQuery(Number.isInteger(Number(type)) ? Number(type) : NaN);
      if (kind === "wall" || kind === "liquid") return parseQuery(`${kind}:${type}`);
      return { query: String(kind), label: `nothing called ${String(kind)}`, none: true };
    }
    const oneOf = (bytes) => {
      const table = new Uint8Array(256);
      for (const byte of bytes) table[byte & 255] = 1;
      return table;
    };
    // A tile's flag is needed for type 0 alone: a cell without a tile has type byte 0.
    const tiles = (typeSet) => ({ plane: types, table: oneOf(typeSet), mask: 1, flags: 1 });
    const text = String(query).trim();
    const picked = /^.*\((-?\d+)\)$/.exec(text);  // a suggestion: "Name (type)"
    const whole = /^[+-]?\d+$/.test(text) ? text : picked ? picked[1] : null;
    if (whole !== null) {
      const type = Number(whole);
      if (type < -128 || type > 127) {
        return { query: text, label: `no tile type ${text}: tile types run from -128 to 127`, none: true };
      }
      return { query: String(type), label: tileLabel(type), kind: "tile", typeSet: [type], match: tiles([type]) };
    }
    const wall = /^wall:(-?\d+)$/.exec(text);
    if (wall) {
      const type = Number(wall[1]);
      if (type === 0 || type < -128 || type > 127) return { query: text, label: `no wall type ${wall[1]}`, none: true };
      return { query: text, label: wallLabel(type), kind: "wall", type,
               match: { plane: walls, table: oneOf([type]), mask: 0, flags: 0 } };
    }
    const liquid = /^liquid:(water|lava)$/.exec(text);
    if (liquid) {
      const table = oneOf([...Array(255).keys()].map((amount) => amount + 1));
      return { query: text, label: liquid[1], kind: "liquid", type: liquid[1],
               match: { plane: liquids, table, mask: 2, flags: liquid[1] === "lava" ? 2 : 0 } };
    }
    // A text: every tile type whose name holds it, whatever the case.
    const wanted = text.toLowerCase();
    const typeSet = Object.keys(names.tiles).map(Number)
      .filter((type) => names.tiles[type].toLowerCase().includes(wanted)).sort((a, b) => a - b);
    if (typeSet.length === 0) return { query: text, label: `no tile named like \u201c${text}\u201d`, none: true };
    const label = typeSet.length === 1 ? tileLabel(typeSet[0]) : `\u201c${text}\u201d: ${typeSet.map(tileLabel).join(", ")}`;
    return { query: text, label, kind: "tile", typeSet, match: tiles(typeSet) };
  }

  // The cells `match` takes (see parseQuery), a bit a cell, 32 cells a word;
  // their number and the first in the cells' order.
  function matchesOf({ plane, table, mask, flags }) {
    const cells = W * H, bits = new Uint32Array(Math.ceil(cells / 32));
    let total = 0, first = -1;
    for (let w = 0; w < bits.length; ++w) {
      const from = w * 32, to = Math.min(cells, from + 32);
      let word = 0;
      for (let i = from; i < to; ++i) {
        if (table[plane[i]] === 1 && ((flagBits[i >> 2] >> ((i & 3) << 1)) & mask) === flags) word |= 1 << (i - from);
      }
      if (word === 0) continue;
      bits[w] = word;
      if (first < 0) first = from + 31 - Math.clz32(word & -word);
      for (; word !== 0; word &= word - 1) ++total;
    }
    return { bits, total, first };
  }

  // The match after (by +1) or before (by -1) `from` in the order of stepping:
  // by distance from the centre the find began at, to the cell's centre, ties
  // to the smaller x, then the smaller y. From null, or past either end, it
  // comes round: the nearest after the farthest.
  function stepFrom(from, by) {
    const { cx, cy } = finding;
    const key = (x, y) => (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2;
    // Whether (k, i) comes after (k2, i2) in the step's direction.
    const later = by > 0 ? (k, i, k2, i2) => k > k2 || (k === k2 && i > i2)
                         : (k, i, k2, i2) => k < k2 || (k === k2 && i < i2);
    const fromKey = from ? key(from[0], from[1]) : by > 0 ? -1 : Infinity;
    const fromIndex = from ? from[0] * H + from[1] : by > 0 ? -1 : Infinity;
    let best = null, bestKey = 0, bestIndex = 0, wrap = null, wrapKey = 0, wrapIndex = 0;
    eachMatch(0, W, 0, H, (x, y) => {
      const k = key(x, y), i = x * H + y;
      if (later(k, i, fromKey, fromIndex)) {
        if (!best || later(bestKey, bestIndex, k, i)) [best, bestKey, bestIndex] = [[x, y], k, i];
      } else if (!wrap || later(wrapKey, wrapIndex, k, i)) {
        [wrap, wrapKey, wrapIndex] = [[x, y], k, i];
      }
    });
    return best || wrap;
  }

  // Marks every cell that `query` matches, with the count and the current
  // match, the nearest to the view's centre. The view moves only when no match
  // is on screen, to the nearest. Returns { count, first, at }.
  function find(query, options = {}) {
    if (!isReady) return null;
    const parsed = parseQuery(query);
    if (!parsed) {
      finding = null;
    } else {
      const { bits, total, first } = parsed.none ? { bits: new Uint32Array(0), total: 0, first: -1 } : matchesOf(parsed.match);
      finding = { ...parsed, bits, total, first, cx: view.x, cy: view.y, at: null, rank: 0 };
      if (total > 0) {
        finding.at = stepFrom(null, 1);
        finding.rank = 1;
        const p = placement();
        const onScreen = eachMatch(p.x0, p.x1, p.y0, p.y1, () => true);
        if (!onScreen && !options.keepView) centreOn(finding.at);
      }
    }
    $("find").value = finding ? finding.query : "";
    showFound();
    scheduleDraw();
    if (!options.keepAddress) rememberInAddress();
    return result();
  }

  function result() {
    if (!finding || finding.total === 0) return { count: 0, first: null, at: null };
    const first = finding.first;
    return { count: finding.total, first: [Math.floor(first / H), first % H], at: [...finding.at] };
  }

  // Steps to the next match (by +1) or the previous (-1), centres the view on
  // it and pins the readout there. Returns the new current match.
  function step(by) {
    if (!isReady || !finding || finding.total === 0) return null;
    finding.at = stepFrom(finding.at, by);
    finding.rank = by > 0 ? finding.rank % finding.total + 1 : finding.rank === 1 ? finding.total : finding.rank - 1;
    centreOn(finding.at);
    select(finding.at[0], finding.at[1]);
    showFound();
    return [...finding.at];
  }

  function showFound() {
    const found = $("found");
    found.classList.toggle("none", !!finding && finding.total === 0);
    found.textContent = !finding ? "" : finding.total === 0 ? finding.label
      : `${count(finding.rank)} of ${count(finding.total)}`;
    found.title = finding ? finding.label : "";
    for (const id of ["next", "previous"]) $(id).disabled = !finding || finding.total < 2;
    const chosen = finding && finding.kind ? `${finding.kind} ${finding.kind === "tile" && finding.typeSet.length === 1 ? finding.typeSet[0] : finding.type}` : "";
    for (const row of document.querySelectorAll("#legend tbody tr")) {
      row.classList.toggle("chosen", `${row.dataset.kind} ${row.dataset.type}` === chosen);
    }
  }

  // Counting.

  const copyOf = (value) => JSON.parse(JSON.stringify(value));

  function counts() {
    if (!isReady) return null;
    const totals = (kind) => Object.fromEntries(Object.entries(byDepth[kind]).map(([k, v]) => [k, v.total]));
    return { tiles: totals("tiles"), walls: totals("walls"), liquids: totals("liquids") };
  }

  // The rows of the counts, tiles, walls and liquids in turn, each the largest first.
  function countRows() {
    const rows = [];
    for (const kind of ["tiles", "walls", "liquids"]) {
      const entries = Object.entries(byDepth[kind]).sort((a, b) => b[1].total - a[1].total || Number(a[0]) - Number(b[0]));
      for (const [type, c] of entries) {
        const k = kind.slice(0, -1);
        const name = k === "tile" ? tileName(type) : k === "wall" ? wallName(type) : undefined;
        const label = k === "tile" ? tileLabel(type) : k === "wall" ? wallLabel(type) : type;
        rows.push({ kind: k, type, name: name ?? "", label, ...c });
      }
    }
    return rows;
  }

  function csvOf(rows) {
    const field = (v) => (/[",\r\n]/.test(String(v)) ? `"${String(v).replace(/"/g, '""')}"` : String(v));
    const lines = ["kind,type,name,sky,underground,rock,total"];
    for (const r of rows) lines.push([r.kind, r.type, r.name, r.sky, r.underground, r.rock, r.total].map(field).join(","));
    return lines.join("\r\n") + "\r\n";
  }

  function swatchOf(row) {
    const c = row.kind === "tile" ? colors.tiles[Number(row.type) & 255]
      : row.kind === "wall" ? colors.walls[Number(row.type) & 255] ?? [0, 0, 0, 0] : colors[row.type];
    return `rgba(${c[0]}, ${c[1]}, ${c[2]}, ${c[3] / 255})`;
  }

  // The legend (every tile, wall and liquid present, the commonest first, each
  // a button that finds it), the counts by depth and their CSV, and the
  // find box's suggestions.
  function buildLegend() {
    const rows = countRows();
    const cell = (text, className) => {
      const td = document.createElement("td");
      if (className) td.className = className;
      td.textContent = text;
      return td;
    };
    const legend = [...rows].sort((a, b) => b.total - a.total);
    $("legend").tBodies[0].replaceChildren(...legend.map((r) => {
      const row = document.createElement("tr");
      Object.assign(row.dataset, { kind: r.kind, type: r.type, count: String(r.total) });
      row.tabIndex = 0;
      const swatch = document.createElement("span");
      swatch.className = "swatch";
      swatch.style.background = swatchOf(r);
      const known = r.kind !== "wall" || (Number(r.type) & 255) < KNOWN_WALLS;
      const first = cell("");
      first.append(swatch);
      row.append(first, cell(known ? r.label : `${r.label} (no colour)`), cell(count(r.total), "n"));
      const choose = () => {
        find({ kind: r.kind, type: r.kind === "liquid" ? r.type : Number(r.type) });
        closePanel();
        canvas.focus();
      };
      row.addEventListener("click", choose);
      row.addEventListener("keydown", (e) => {
        if (e.key === "Enter" || e.key === " ") {
          e.preventDefault();
          e.stopPropagation();
          choose();
        }
      });
      return row;
    }));
    $("by-depth").tBodies[0].replaceChildren(...rows.map((r) => {
      const row = document.createElement("tr");
      row.append(cell(r.label), ...["sky", "underground", "rock", "total"].map((band) => cell(count(r[band]), "n")));
      return row;
    }));
    const link = $("csv");
    link.href = URL.createObjectURL(new Blob([csvOf(rows)], { type: "text/csv" }));
    link.download = `${world.name.replace(/[\\/:*?"<>|\x00-\x1f]/g, "_") || "world"} counts.csv`;
    $("suggestions").replaceChildren(...rows.filter((r) => r.kind === "tile" && r.name).map((r) => {
      const option = document.createElement("option");
      option.value = r.label;
      return option;
    }));
  }

  // The RGBA bytes of a rectangle of the map, row by row, with the layers now
  // shown and without the find's marks.
  function pixels(x, y, w, h) {
    if (!isReady) return null;
    [x, y, w, h] = [x, y, w, h].map((v) => Math.trunc(Number(v)));
    if (!(x >= 0 && y >= 0 && w >= 0 && h >= 0 && x + w <= W && y + h <= H)) {
      throw new RangeError(`the rectangle ${x}, ${y}, ${w} x ${h} is not inside the ${W} x ${H} world`);
    }
    const out = new Uint8ClampedArray(w * h * 4);
    paintInto(new Uint32Array(out.buffer), 0, w, x, y, w, h);
    return out;
  }

  // Decoding.

  // The bytes of a plane's digits in base 85 (docs/page-cells.md); null when a
  // character is not a digit or the digits do not make bytes.
  const DIGITS = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz!#$()*+,-./:=?@[]^_{|}~";
  function base85Bytes(text) {
    const valueOf = new Uint8Array(128).fill(255);
    for (let d = 0; d < 85; ++d) valueOf[DIGITS.charCodeAt(d)] = d;
    const whole = Math.floor(text.length / 5), rest = text.length % 5;
    if (rest === 1) return null;
    const bytes = new Uint8Array(whole * 4 + Math.max(0, rest - 1));
    for (let at = 0, o = 0; at < text.length; at += 5) {
      // A last group short of digits is filled with the highest.
      let group = 0;
      for (let k = at; k < at + 5; ++k) {
        const value = k < text.length ? valueOf[text.charCodeAt(k)] ?? 255 : 84;
        if (value === 255) return null;
        group = group * 85 + value;
      }
      if (group > 0xffffffff) return null;
      for (let shift = 24; shift >= 0 && o < bytes.length; shift -= 8) bytes[o++] = (group >>> shift) & 255;
    }
    return bytes;
  }

  class Refusal extends Error {}
  const damaged = (what) => new Refusal(`This page is damaged: ${what}. Make it again with wldmap --html; the PNG map beside it shows the world.`);

  // One plane's pairs, inflated.
  async function inflate(text) {
    const bytes = base85Bytes(text);
    if (!bytes) throw damaged("its cells are not in base 85");
    try {
      const stream = new Blob([bytes]).stream().pipeThrough(new DecompressionStream("deflate-raw"));
      return new Uint8Array(await new Response(stream).arrayBuffer());
    } catch {
      throw damaged("its cells do not unpack");
    }
  }

  // A plane from its pairs (docs/page-cells.md): each a run of cells that hold
  // what the cell to their left holds (0 left of the first column), then the
  // bytes of the cells after it. A run is copied a column at a time at most,
  // so that what it copies is always final. `done(n)` hears of each n cells.
  function unpair(pairs, cells, done) {
    const plane = new Uint8Array(cells);
    let at = 0, i = 0, counted = 0;
    const number = () => {
      let value = 0;
      for (let scale = 1; scale < 2 ** 35; scale *= 128) {
        if (at >= pairs.length) throw damaged("its cells end early");
        const byte = pairs[at++];
        value += (byte & 127) * scale;
        if (byte < 128) return value;
      }
      throw damaged("a count of its cells is too long");
    };
    while (i < cells) {
      const end = i + number();
      if (end > cells) throw damaged(`more than ${count(cells)} cells`);
      for (let from = Math.max(i, H); from < end; from += H) {
        plane.copyWithin(from, from - H, Math.min(end, from + H) - H);
      }
      const bytes = number();
      if (bytes > cells - end || bytes > pairs.length - at) throw damaged("its cells do not add up");
      plane.set(pairs.subarray(at, at + bytes), end);
      at += bytes;
      i = end + bytes;
      if (i - counted >= CELLS_A_TASK) {
        done(i - counted);
        counted = i;
      }
    }
    if (at !== pairs.length) throw damaged("its cells do not add up");
    done(i - counted);
    return plane;
  }

  async function decode(progress) {
    const cells = W * H;
    if (!(Number.isInteger(W) && Number.isInteger(H) && cells > 0)) throw damaged("its size is not a world's");
    if (cells * BYTES_A_CELL > LARGEST_TAB) {
      throw new Refusal(`This world is ${count(W)} x ${count(H)} cells: showing it would take ` +
                        `${(cells * BYTES_A_CELL / 2 ** 30).toFixed(1)} GiB, more than a browser tab may use ` +
                        `(${LARGEST_TAB / 2 ** 30} GiB). The PNG map beside this page shows it whole.`);
    }
    const element = $("wldmap-cells");
    const texts = element.textContent.replace(/\s+$/, "").split("\n");
    element.textContent = "";  // its memory can go
    if (texts.length !== 4) throw damaged("its cells are not four planes");
    // Inflating is a step a plane, unpairing a step a cell, packing the flags
    // and counting one more.
    const work = 4 + 5 * cells;
    let done = 0;
    const advance = (n) => progress((done += n) / work);
    const inflated = await Promise.all(texts.map(async (text) => {
      const pairs = await inflate(text);
      advance(1);
      return pairs;
    }));
    const planes = [];
    for (const pairs of inflated) {
      planes.push(unpair(pairs, cells, advance));
      await nextTask();
    }
    let flags;
    [flags, types, walls, liquids] = planes;
    // The flags kept in two bits a cell (the byte a cell goes), and the cells
    // of each tile type, wall and liquid counted in each band, a few columns a task.
    flagBits = new Uint8Array(Math.ceil(cells / 4));
    const tilesBy = new Uint32Array(3 * 256), wallsBy = new Uint32Array(3 * 256), liquidsBy = new Uint32Array(3 * 2);
    const skyEnd = Math.min(world.groundStart, world.rockStart, H);
    const groundEnd = Math.min(Math.max(world.groundStart, world.rockStart), H);
    const bands = [[0, skyEnd], [Math.min(world.groundStart, groundEnd), groundEnd], [Math.min(world.rockStart, H), H]];
    const columns = Math.max(1, Math.floor(CELLS_A_TASK / H));
    for (let x0 = 0; x0 < W; x0 += columns) {
      const x1 = Math.min(W, x0 + columns);
      for (let band = 0; band < 3; ++band) {
        const [from, to] = bands[band], base = band * 256, liquidBase = band * 2;
        for (let x = x0; x < x1; ++x) {
          for (let i = x * H + from, end = x * H + Math.max(from, to); i < end; ++i) {
            const f = flags[i];
            flagBits[i >> 2] |= f << ((i & 3) << 1);
            if (f & 1) ++tilesBy[base + types[i]];
            ++wallsBy[base + walls[i]];
            if (liquids[i] !== 0) ++liquidsBy[liquidBase + (f >> 1)];
          }
        }
      }
      advance((x1 - x0) * H);
      await nextTask();
    }
    const table = (counts, keyOf, keys, skip) => {
      const out = {};
      for (let k = 0; k < keys; ++k) {
        const [sky, underground, rock] = [0, 1, 2].map((band) => counts[band * keys + k]);
        const total = sky + underground + rock;
        if (total > 0 && k !== skip) out[keyOf(k)] = { sky, underground, rock, total };
      }
      return out;
    };
    byDepth = { tiles: table(tilesBy, (k) => String(signed(k)), 256, -1),
                walls: table(wallsBy, (k) => String(signed(k)), 256, 0),
                liquids: table(liquidsBy, (k) => (k ? "lava" : "water"), 2, -1) };
    chunks = [];
    for (let y0 = 0; y0 < H; y0 += CHUNK) {
      for (let x0 = 0; x0 < W; x0 += CHUNK) {
        chunks.push({ x0, y0, w: Math.min(CHUNK, W - x0), h: Math.min(CHUNK, H - y0), image: null });
      }
    }
  }

  // Wiring.

  function closePanel() {
    $("side").classList.remove("open");
    $("panel").setAttribute("aria-expanded", "false");
  }

  function wire() {
    new ResizeObserver(resize).observe(canvas);
    const pointers = new Map();
    let drag = null;
    const distance = () => {
      const [a, b] = [...pointers.values()];
      return Math.hypot(a.x - b.x, a.y - b.y);
    };
    const hover = (e) => {
      if (selected || e.pointerType === "touch") return;
      const at = cellAtPoint(e.offsetX, e.offsetY);
      showCell(Math.floor(at.x), Math.floor(at.y));
    };
    canvas.addEventListener("pointerdown", (e) => {
      canvas.focus();
      canvas.setPointerCapture(e.pointerId);
      pointers.set(e.pointerId, { x: e.offsetX, y: e.offsetY });
      drag = { moved: 0, pinch: pointers.size === 2 ? distance() : 0 };
    });
    canvas.addEventListener("pointermove", (e) => {
      hover(e);
      if (!drag || !pointers.has(e.pointerId)) return;
      const last = pointers.get(e.pointerId);
      pointers.set(e.pointerId, { x: e.offsetX, y: e.offsetY });
      if (pointers.size === 2 && drag.pinch) {
        const now = distance();
        const [a, b] = [...pointers.values()];
        zoomAt(now / drag.pinch, (a.x + b.x) / 2, (a.y + b.y) / 2);
        drag.pinch = now;
        drag.moved += 100;
        return;
      }
      const dx = e.offsetX - last.x, dy = e.offsetY - last.y;
      drag.moved += Math.abs(dx) + Math.abs(dy);
      if (drag.moved > (e.pointerType === "touch" ? 8 : 3)) {
        setView({ x: view.x - dx / view.zoom, y: view.y - dy / view.zoom });
      }
    });
    const release = (e) => {
      pointers.delete(e.pointerId);
      if (!drag) return;
      // A click or a tap that did not move shows the cell; nothing else changes.
      if (e.type === "pointerup" && drag.moved <= (e.pointerType === "touch" ? 8 : 3) && pointers.size === 0) {
        const at = cellAtPoint(e.offsetX, e.offsetY);
        select(Math.floor(at.x), Math.floor(at.y));
      }
      if (pointers.size === 0) drag = null;
    };
    canvas.addEventListener("pointerup", release);
    canvas.addEventListener("pointercancel", release);
    // A pointer that comes back over the map lets the pinned cell go.
    canvas.addEventListener("pointerenter", (e) => {
      if (selected && e.pointerType !== "touch" && e.buttons === 0) {
        select(null);
        hover(e);
      }
    });
    canvas.addEventListener("wheel", (e) => {
      e.preventDefault();
      const steps = e.deltaMode === 1 ? e.deltaY * 20 : e.deltaMode === 2 ? e.deltaY * 400 : e.deltaY;
      // A pinch on a touchpad arrives as a wheel with Ctrl held; it moves less.
      zoomAt(Math.pow(2, -steps / (e.ctrlKey ? 100 : 300)), e.offsetX, e.offsetY);
    }, { passive: false });
    window.addEventListener("keydown", (e) => {
      const inForm = e.target instanceof HTMLInputElement || e.target instanceof HTMLButtonElement ||
                     e.target instanceof HTMLTableRowElement || e.target instanceof HTMLElement && e.target.isContentEditable;
      if (e.key === "Escape") {
        if (e.target === $("find")) find(null);
        else if (selected) select(null);
        else if (finding) find(null);
        closePanel();
        canvas.focus();
        return;
      }
      if (inForm || e.ctrlKey || e.metaKey || e.altKey) return;
      const pan = 0.1 / view.zoom, cw = canvas.clientWidth, ch = canvas.clientHeight;
      const moves = {
        "+": () => zoomAt(1.5, cw / 2, ch / 2),
        "=": () => zoomAt(1.5, cw / 2, ch / 2),
        "-": () => zoomAt(1 / 1.5, cw / 2, ch / 2),
        "0": () => fit(),
        ArrowLeft: () => setView({ x: view.x - cw * pan }),
        ArrowRight: () => setView({ x: view.x + cw * pan }),
        ArrowUp: () => setView({ y: view.y - ch * pan }),
        ArrowDown: () => setView({ y: view.y + ch * pan }),
        Enter: () => step(e.shiftKey ? -1 : 1),
        "/": () => $("find").focus(),
      };
      if (moves[e.key]) {
        e.preventDefault();
        moves[e.key]();
      }
    });
    for (const box of document.querySelectorAll("#layers input")) {
      box.addEventListener("change", () => {
        setLayers({ [box.name]: box.checked });
        canvas.focus();
      });
    }
    const input = $("find");
    $("finder").addEventListener("submit", (e) => e.preventDefault());
    input.addEventListener("keydown", (e) => {
      if (e.key !== "Enter") return;
      e.preventDefault();
      const again = finding && String(finding.query) === input.value.trim() && finding.total > 0;
      if (again) step(e.shiftKey ? -1 : 1);
      else find(input.value);
      canvas.focus();
    });
    // A suggestion picked from the list finds at once.
    input.addEventListener("input", (e) => {
      if (e.inputType === "insertReplacementText" || !e.inputType) {
        if (/\(-?\d+\)$/.test(input.value)) {
          find(input.value);
          canvas.focus();
        }
      }
    });
    const button = (id, act) => $(id).addEventListener("click", () => {
      act();
      canvas.focus();
    });
    button("next", () => step(1));
    button("previous", () => step(-1));
    button("clear", () => find(null));
    button("close", closePanel);
    $("panel").addEventListener("click", () => {
      const open = $("side").classList.toggle("open");
      $("panel").setAttribute("aria-expanded", String(open));
    });
    window.addEventListener("hashchange", restoreFromAddress);
  }

  function showMessage(text, failed) {
    const box = $("message");
    box.textContent = text;
    box.classList.toggle("failed", failed);
    box.hidden = false;
  }

  async function start() {
    $("about").textContent = `${count(W)} x ${count(H)} cells` + (world.saved ? ` \u00b7 saved ${new Date(world.saved * 1000).toLocaleString()}` : "");
    const began = performance.now();
    let shown = -1;
    const progress = (stage) => (fraction) => {
      const percent = Math.floor(fraction * 100);
      if (percent === shown || performance.now() - began < 1000) return;
      shown = percent;
      showMessage(`${stage}: ${percent} %`, false);
    };
    try {
      await decode(progress("Unpacking cells"));
      isReady = true;
      resize();
      restoreFromAddress();
      buildLegend();
      setLayers({}, true);
      showMessage("", false);
      $("message").hidden = true;
      wire();
      await repaint(true);
      showFound();
      draw();
    } catch (error) {
      isReady = false;
      const text = error instanceof Refusal ? error.message
        : `This page cannot show the world: ${error && error.message ? error.message : error}`;
      showMessage(text, true);
      $("readout").textContent = "";
      throw new Error(text);
    }
  }

  window.wldmap = {
    ready: null,
    world: { name: world.name, width: W, height: H, surfaceLevel: world.surfaceLevel, rockLevel: world.rockLevel,
             names: copyOf(names) },
    cellAt,
    pixels,
    get layers() { return { ...layers }; },
    setLayers: (next) => setLayers(next || {}),
    find: (query) => find(query),
    next: () => step(1),
    previous: () => step(-1),
    select: (x, y) => select(x, y),
    get selected() { return selected ? [...selected] : null; },
    counts,
    countsByDepth: () => (isReady ? copyOf(byDepth) : null),
    get view() { return { ...view }; },
    setView: (next) => setView(next || {}),
  };
  window.wldmap.ready = start();
})();
