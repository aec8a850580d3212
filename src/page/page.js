// The world explorer: decodes the cells that travel inside this page, paints
// them with the tool's own layers and blend, and answers questions about them.
// Plain JavaScript, nothing fetched: everything it needs is in the page.
"use strict";
(() => {
  const TILE = 2048;  // the map is painted into canvases of at most this many pixels a side
  const BAND = 64;    // rows painted at a time, so that the pixels in flight stay small
  const LAYERS = ["background", "walls", "tiles", "liquids"];
  const LETTERS = { background: "b", walls: "w", tiles: "t", liquids: "l" };
  const KNOWN_WALLS = 14;

  const $ = (id) => document.getElementById(id);
  const world = JSON.parse($("wldmap-world").textContent);
  const { width: W, height: H } = world;
  const colors = world.colors;
  const signed = (byte) => (byte > 127 ? byte - 256 : byte);

  // The cells, column by column: their flags (1 a tile, 2 lava) two bits a
  // cell, four cells a byte; their tile type, wall and liquid a byte each.
  let flagBits, types, walls, liquids;
  const flagsOf = (i) => (flagBits[i >> 2] >> ((i & 3) << 1)) & 3;
  let tiles = [];                    // { x0, y0, w, h, canvas }
  let layers = { background: true, walls: true, tiles: true, liquids: true };
  let table = null;                  // the composited colour of each kind of cell
  let view = { x: W / 2, y: H / 2, zoom: 1 };
  let finding = null;                // { type, cells: Uint32Array, at }
  let counted = null;
  let isReady = false;

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

  // Every combination of what lies under the tile (three depths, thirteen
  // walls), the tile (none, or its type byte) and the liquid (none, water,
  // lava), composited once with the layers now shown, as packed RGBA.
  function buildTable(shown) {
    const black = [0, 0, 0, 255];
    const backgrounds = shown.background ? [colors.sky, colors.underground, colors.rock] : [black, black, black];
    const t = new Uint32Array(16 * 257 * 3);
    for (let under = 0; under < 16; ++under) {
      // A wall covers the background whole; the tool blends it over rock.
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

  // Which depth row y lies in: 0 sky, 1 underground, 2 rock.
  const depthOf = (y) => (y >= world.rockStart ? 2 : y >= world.groundStart ? 1 : 0);

  // The packed colour of cell i in row y by `t`, the layers `shown`.
  function colorOf(t, shown, i, y) {
    const wall = walls[i];
    const under = shown.walls && wall >= 1 && wall < KNOWN_WALLS ? wall + 2 : depthOf(y);
    const f = flagsOf(i);
    const tile = f & 1 ? types[i] : 256;
    const liquid = liquids[i] === 0 ? 0 : f & 2 ? 2 : 1;
    return t[(under * 257 + tile) * 3 + liquid];
  }

  // Paints the rectangle of w x h cells at (x0, y0) into `out`, row by row,
  // column by column within each band of rows so that the cells are read in
  // their own order; cells not of the found type are dimmed when `dim`.
  function paintInto(out, x0, y0, w, h, dim) {
    const t = table;
    const found = dim && finding ? finding.type & 255 : -1;
    for (let top = 0; top < h; top += BAND) {
      const rows = Math.min(BAND, h - top);
      for (let x = 0; x < w; ++x) {
        const column = (x0 + x) * H + y0 + top;
        for (let r = 0; r < rows; ++r) {
          const i = column + r;
          let c = colorOf(t, layers, i, y0 + top + r);
          if (found >= 0 && !((flagsOf(i) & 1) && types[i] === found)) {
            c = (c & 0xff000000) | (((c >>> 2) & 0x3f3f3f) + ((c >>> 3) & 0x1f1f1f));
          }
          out[(top + r) * w + x] = c;
        }
      }
    }
  }

  // Paints every part of the map anew, after the layers or the find change:
  // each into pixels of its own, made an image the browser keeps once (a
  // canvas drawn from would be kept twice), the old image let go. A newer
  // repaint makes an older one stop.
  let painting = 0;
  async function repaint() {
    const generation = ++painting;
    table = buildTable(layers);
    for (const tile of tiles) {
      const image = new ImageData(tile.w, tile.h);
      paintInto(new Uint32Array(image.data.buffer), tile.x0, tile.y0, tile.w, tile.h, true);
      const bitmap = await createImageBitmap(image);
      if (generation !== painting) {
        bitmap.close();
        return;
      }
      if (tile.image) tile.image.close();
      tile.image = bitmap;
    }
    draw();
  }

  // The view.
  const canvas = $("view");
  const screen = canvas.getContext("2d", { alpha: false });
  let drawPending = false;

  function fitZoom() {
    return Math.min(canvas.width / W, canvas.height / H);
  }

  function resize() {
    const ratio = window.devicePixelRatio || 1;
    canvas.width = Math.max(1, Math.round(canvas.clientWidth * ratio));
    canvas.height = Math.max(1, Math.round(canvas.clientHeight * ratio));
    draw();
  }

  // Draws the visible part of each canvas of the map, cells as crisp squares;
  // at a whole zoom, cell edges fall on whole screen pixels.
  function draw() {
    if (!isReady) return;
    const { x, y, zoom } = view;
    screen.setTransform(1, 0, 0, 1, 0, 0);
    screen.imageSmoothingEnabled = false;
    screen.fillStyle = "#101114";
    screen.fillRect(0, 0, canvas.width, canvas.height);
    const left = Math.round(canvas.width / 2 - x * zoom);
    const top = Math.round(canvas.height / 2 - y * zoom);
    for (const tile of tiles) {
      // The part of this canvas on screen, in cells.
      const sx = Math.max(0, Math.floor(-left / zoom) - tile.x0);
      const sy = Math.max(0, Math.floor(-top / zoom) - tile.y0);
      const ex = Math.min(tile.w, Math.ceil((canvas.width - left) / zoom) - tile.x0);
      const ey = Math.min(tile.h, Math.ceil((canvas.height - top) / zoom) - tile.y0);
      if (ex <= sx || ey <= sy) continue;
      if (!tile.image) continue;
      screen.drawImage(tile.image, sx, sy, ex - sx, ey - sy,
                       left + (tile.x0 + sx) * zoom, top + (tile.y0 + sy) * zoom,
                       (ex - sx) * zoom, (ey - sy) * zoom);
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

  // The cell under screen point (px, py) of the canvas, in fractions.
  function cellAtPoint(px, py) {
    return { x: view.x + (px - canvas.width / 2) / view.zoom, y: view.y + (py - canvas.height / 2) / view.zoom };
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

  // Zooms by `factor`, keeping the cell under screen point (px, py) in place.
  function zoomAt(factor, px, py) {
    const at = cellAtPoint(px, py);
    const zoom = view.zoom * factor;
    setView({ zoom, x: at.x - (px - canvas.width / 2) / zoom, y: at.y - (py - canvas.height / 2) / zoom });
  }

  function fit() {
    setView({ x: W / 2, y: H / 2, zoom: fitZoom() });
  }

  // The address keeps the view, the layers and the find, so that a link shows
  // the same spot.
  let addressTimer = 0;
  function rememberInAddress() {
    clearTimeout(addressTimer);
    addressTimer = setTimeout(() => {
      const shown = LAYERS.filter((name) => layers[name]).map((name) => LETTERS[name]).join("");
      let hash = `x=${+view.x.toFixed(2)}&y=${+view.y.toFixed(2)}&zoom=${+view.zoom.toFixed(4)}&layers=${shown || "-"}`;
      if (finding) hash += `&find=${finding.type}`;
      history.replaceState(null, "", "#" + hash);
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
    if (params.has("find") && params.get("find") !== "") find(Number(params.get("find")), true);
  }

  // What the page tells of one cell.
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

  function describe(x, y) {
    const cell = cellAt(x, y);
    if (!cell) return "Point at a cell";
    const depth = ["sky", "underground", "rock"][depthOf(y)];
    const tile = cell.active ? `tile ${cell.type}` : "no tile";
    const wall = cell.wall !== 0 ? `wall ${cell.wall}` : "no wall";
    const liquid = cell.liquid !== 0 ? `${cell.lava ? "lava" : "water"} ${cell.liquid}` : "no liquid";
    return `${x}, ${y}  ${depth}  ${tile}  ${wall}  ${liquid}`;
  }

  function setLayers(next, keepAddress) {
    const changed = LAYERS.some((name) => name in next && Boolean(next[name]) !== layers[name]);
    layers = Object.fromEntries(LAYERS.map((name) => [name, name in next ? Boolean(next[name]) : layers[name]]));
    for (const box of document.querySelectorAll("#layers input")) box.checked = layers[box.name];
    if (changed && isReady) repaint();
    if (!keepAddress) rememberInAddress();
  }

  // Every cell of one tile type, in the file's order (column by column, each
  // from the top).
  function cellsOfType(type) {
    const byte = type & 255;
    let count = 0;
    for (let i = 0; i < types.length; ++i) if ((flagsOf(i) & 1) && types[i] === byte) ++count;
    const found = new Uint32Array(count);
    for (let i = 0, n = 0; n < count; ++i) if ((flagsOf(i) & 1) && types[i] === byte) found[n++] = i;
    return found;
  }

  function showFound() {
    const text = $("found");
    if (!finding) {
      text.textContent = "";
    } else if (finding.cells.length === 0) {
      text.textContent = `no tile of type ${finding.type}`;
    } else {
      const i = finding.cells[finding.at];
      text.textContent = `${finding.at + 1} of ${finding.cells.length} (${Math.floor(i / H)}, ${i % H})`;
    }
    for (const entry of document.querySelectorAll("#legend li")) {
      entry.classList.toggle("chosen", !!finding && entry.dataset.kind === "tile" && Number(entry.dataset.type) === finding.type);
    }
  }

  function centreOnFound() {
    if (!finding || finding.cells.length === 0) return;
    const i = finding.cells[finding.at];
    setView({ x: Math.floor(i / H) + 0.5, y: (i % H) + 0.5 });
  }

  // Highlights every tile of `type` (null clears); returns how many there are
  // and the first, in the file's order.
  function find(type, keepAddress) {
    if (!isReady) return null;
    if (type === null || type === undefined || type === "" || !Number.isInteger(Number(type)) ||
        Number(type) < -128 || Number(type) > 127) {
      finding = null;
      $("find").value = "";
    } else {
      type = Number(type);
      finding = { type, cells: cellsOfType(type), at: 0 };
      $("find").value = String(type);
    }
    repaint();
    showFound();
    if (!keepAddress) {
      centreOnFound();
      rememberInAddress();
    }
    if (!finding) return { count: 0, first: null };
    const first = finding.cells.length ? finding.cells[0] : -1;
    return { count: finding.cells.length, first: first < 0 ? null : [Math.floor(first / H), first % H] };
  }

  function step(by) {
    if (!finding || finding.cells.length === 0) return;
    finding.at = (finding.at + by + finding.cells.length) % finding.cells.length;
    showFound();
    centreOnFound();
  }

  function counts() {
    if (!isReady) return null;
    if (!counted) {
      const tilesBy = new Float64Array(256), wallsBy = new Float64Array(256);
      let water = 0, lava = 0;
      for (let i = 0; i < types.length; ++i) {
        const f = flagsOf(i);
        if (f & 1) ++tilesBy[types[i]];
        ++wallsBy[walls[i]];
        if (liquids[i] !== 0) f & 2 ? ++lava : ++water;
      }
      const byType = (list, skipZero) => {
        const out = {};
        for (let byte = 0; byte < 256; ++byte) {
          if (list[byte] && !(skipZero && byte === 0)) out[String(signed(byte))] = list[byte];
        }
        return out;
      };
      const liquidsBy = {};
      if (water) liquidsBy.water = water;
      if (lava) liquidsBy.lava = lava;
      counted = { tiles: byType(tilesBy, false), walls: byType(wallsBy, true), liquids: liquidsBy };
    }
    return JSON.parse(JSON.stringify(counted));
  }

  function buildLegend() {
    const { tiles: t, walls: w, liquids: l } = counts();
    const entries = [];
    const css = (c) => `rgba(${c[0]}, ${c[1]}, ${c[2]}, ${c[3] / 255})`;
    for (const [type, count] of Object.entries(t)) {
      entries.push({ kind: "tile", type, count, label: `tile ${type}`, color: colors.tiles[Number(type) & 255] });
    }
    for (const [type, count] of Object.entries(w)) {
      const byte = Number(type) & 255;
      const known = byte < KNOWN_WALLS;
      entries.push({ kind: "wall", type, count, label: `wall ${type}${known ? "" : " (no colour)"}`,
                     color: known ? colors.walls[byte] : [0, 0, 0, 0] });
    }
    for (const [type, count] of Object.entries(l)) {
      entries.push({ kind: "liquid", type, count, label: type, color: colors[type] });
    }
    entries.sort((a, b) => b.count - a.count || a.kind.localeCompare(b.kind) || Number(a.type) - Number(b.type));
    const list = $("legend");
    list.replaceChildren();
    for (const e of entries) {
      const item = document.createElement("li");
      item.dataset.kind = e.kind;
      item.dataset.type = e.type;
      item.dataset.count = String(e.count);
      const swatch = document.createElement("span");
      swatch.className = "swatch";
      swatch.style.background = css(e.color);
      const label = document.createElement("span");
      label.textContent = e.label;
      const number = document.createElement("span");
      number.className = "count";
      number.textContent = e.count.toLocaleString("en");
      item.append(swatch, label, number);
      if (e.kind === "tile") item.addEventListener("click", () => find(Number(e.type)));
      list.append(item);
    }
  }

  // The RGBA bytes of a rectangle of the map, row by row, with the layers now
  // shown and without the find's dimming.
  function pixels(x, y, w, h) {
    if (!isReady) return null;
    [x, y, w, h] = [x, y, w, h].map((v) => Math.trunc(Number(v)));
    if (!(x >= 0 && y >= 0 && w >= 0 && h >= 0 && x + w <= W && y + h <= H)) {
      throw new RangeError(`the rectangle ${x}, ${y}, ${w} x ${h} is not inside the ${W} x ${H} world`);
    }
    const out = new Uint8ClampedArray(w * h * 4);
    paintInto(new Uint32Array(out.buffer), x, y, w, h, false);
    return out;
  }

  // Decoding.

  function base64Bytes(text) {
    text = text.replace(/\s+/g, "");
    if (typeof Uint8Array.fromBase64 === "function") return Uint8Array.fromBase64(text);
    const binary = atob(text);
    const bytes = new Uint8Array(binary.length);
    for (let i = 0; i < binary.length; ++i) bytes[i] = binary.charCodeAt(i);
    return bytes;
  }

  class TooLarge extends Error {}

  async function decode() {
    const cells = W * H;
    // Four bytes a cell, and as many again for the painted map.
    if (!(cells > 0) || cells * 8 > 4 * 2 ** 30) {
      throw new TooLarge(`This world is ${W} x ${H} cells: showing it would take ` +
                         `${(cells * 8 / 2 ** 30).toFixed(1)} GiB, more than a browser tab may use. ` +
                         `The PNG map beside this page shows it whole.`);
    }
    const element = $("wldmap-cells");
    const texts = element.textContent.trim().split("\n");
    element.textContent = "";  // its memory can go
    if (texts.length !== 4) throw new Error("the page's cells are damaged (not four planes)");
    // Each plane decoded into an array of its own: nothing is copied.
    let flags;
    [flags, types, walls, liquids] = await Promise.all(texts.map(async (text) => {
      const stream = new Blob([base64Bytes(text)]).stream().pipeThrough(new DecompressionStream("deflate-raw"));
      const plane = new Uint8Array(await new Response(stream).arrayBuffer());
      if (plane.length !== cells) throw new Error(`the page's cells are damaged (${plane.length} bytes for ${cells} cells)`);
      return plane;
    }));
    // Each byte was stored as its difference from the cell to its left.
    for (const plane of [flags, types, walls, liquids]) {
      for (let i = H; i < cells; ++i) plane[i] ^= plane[i - H];
    }
    // Two bits a cell are all the flags take; the byte a cell goes.
    flagBits = new Uint8Array(Math.ceil(cells / 4));
    for (let i = 0; i < cells; ++i) flagBits[i >> 2] |= (flags[i] & 3) << ((i & 3) << 1);
    tiles = [];
    for (let y0 = 0; y0 < H; y0 += TILE) {
      for (let x0 = 0; x0 < W; x0 += TILE) {
        tiles.push({ x0, y0, w: Math.min(TILE, W - x0), h: Math.min(TILE, H - y0), image: null });
      }
    }
  }

  function fail(error) {
    const message = error instanceof TooLarge || error instanceof RangeError
      ? error.message
      : `This page cannot show the world: ${error && error.message ? error.message : error}`;
    const box = $("message");
    box.textContent = message;
    box.hidden = false;
    $("readout").textContent = "";
    throw new Error(message);
  }

  // Wiring.

  function wire() {
    new ResizeObserver(resize).observe(canvas);
    let drag = null;
    const pointers = new Map();
    canvas.addEventListener("pointerdown", (e) => {
      canvas.focus();
      canvas.setPointerCapture(e.pointerId);
      pointers.set(e.pointerId, { x: e.offsetX, y: e.offsetY });
      drag = { x: e.offsetX, y: e.offsetY, moved: 0, pinch: pointers.size === 2 ? distance() : 0 };
    });
    const distance = () => {
      const [a, b] = [...pointers.values()];
      return Math.hypot(a.x - b.x, a.y - b.y);
    };
    canvas.addEventListener("pointermove", (e) => {
      const ratio = canvas.width / canvas.clientWidth;
      const at = cellAtPoint(e.offsetX * ratio, e.offsetY * ratio);
      $("readout").textContent = describe(Math.floor(at.x), Math.floor(at.y));
      if (!drag || !pointers.has(e.pointerId)) return;
      const last = pointers.get(e.pointerId);
      pointers.set(e.pointerId, { x: e.offsetX, y: e.offsetY });
      if (pointers.size === 2 && drag.pinch) {
        const now = distance();
        const [a, b] = [...pointers.values()];
        zoomAt(now / drag.pinch, ((a.x + b.x) / 2) * ratio, ((a.y + b.y) / 2) * ratio);
        drag.pinch = now;
        drag.moved += 10;
        return;
      }
      const dx = e.offsetX - last.x, dy = e.offsetY - last.y;
      drag.moved += Math.abs(dx) + Math.abs(dy);
      if (drag.moved > 3) setView({ x: view.x - (dx * ratio) / view.zoom, y: view.y - (dy * ratio) / view.zoom });
    });
    const release = (e) => {
      pointers.delete(e.pointerId);
      if (!drag) return;
      if (e.type === "pointerup" && drag.moved <= 3 && pointers.size === 0) {
        const ratio = canvas.width / canvas.clientWidth;
        const at = cellAtPoint(e.offsetX * ratio, e.offsetY * ratio);
        const cell = cellAt(Math.floor(at.x), Math.floor(at.y));
        if (cell) find(cell.active ? cell.type : null);
      }
      if (pointers.size === 0) drag = null;
    };
    canvas.addEventListener("pointerup", release);
    canvas.addEventListener("pointercancel", release);
    canvas.addEventListener("wheel", (e) => {
      e.preventDefault();
      const ratio = canvas.width / canvas.clientWidth;
      const steps = e.deltaMode === 1 ? e.deltaY * 20 : e.deltaMode === 2 ? e.deltaY * 400 : e.deltaY;
      // A pinch on a touchpad arrives as a wheel with Ctrl held; it moves less.
      zoomAt(Math.pow(2, -steps / (e.ctrlKey ? 100 : 300)), e.offsetX * ratio, e.offsetY * ratio);
    }, { passive: false });
    window.addEventListener("keydown", (e) => {
      if (e.key === "Escape") {
        find(null);
        return;
      }
      if (e.target instanceof HTMLInputElement) return;
      const pan = 0.1 / view.zoom;
      const moves = {
        "+": () => zoomAt(1.5, canvas.width / 2, canvas.height / 2),
        "=": () => zoomAt(1.5, canvas.width / 2, canvas.height / 2),
        "-": () => zoomAt(1 / 1.5, canvas.width / 2, canvas.height / 2),
        "0": () => fit(),
        ArrowLeft: () => setView({ x: view.x - canvas.width * pan }),
        ArrowRight: () => setView({ x: view.x + canvas.width * pan }),
        ArrowUp: () => setView({ y: view.y - canvas.height * pan }),
        ArrowDown: () => setView({ y: view.y + canvas.height * pan }),
      };
      if (moves[e.key] && !e.ctrlKey && !e.metaKey && !e.altKey) {
        e.preventDefault();
        moves[e.key]();
      }
    });
    for (const box of document.querySelectorAll("#layers input")) {
      box.addEventListener("change", () => setLayers({ [box.name]: box.checked }));
    }
    const input = $("find");
    input.addEventListener("change", () => find(input.value === "" ? null : Number(input.value)));
    input.addEventListener("keydown", (e) => {
      if (e.key !== "Enter") return;
      if (finding && String(finding.type) === input.value) step(e.shiftKey ? -1 : 1);
      else find(input.value === "" ? null : Number(input.value));
    });
    $("next").addEventListener("click", () => step(1));
    $("previous").addEventListener("click", () => step(-1));
    window.addEventListener("hashchange", () => {
      restoreFromAddress();
      draw();
    });
  }

  async function start() {
    $("size").textContent = `${W} x ${H} cells`;
    try {
      await decode();
      isReady = true;
      resize();
      restoreFromAddress();
      buildLegend();
      await repaint();
      showFound();
      wire();
      draw();
    } catch (error) {
      isReady = false;
      fail(error);
    }
  }

  window.wldmap = {
    ready: null,
    world: { name: world.name, width: W, height: H, surfaceLevel: world.surfaceLevel, rockLevel: world.rockLevel },
    cellAt,
    pixels,
    get layers() { return { ...layers }; },
    setLayers: (next) => setLayers(next || {}),
    find: (type) => find(type),
    counts,
    get view() { return { ...view }; },
    setView: (next) => setView(next || {}),
  };
  window.wldmap.ready = start();
})();
