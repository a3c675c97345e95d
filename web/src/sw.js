// The page offline: on the first visit this worker keeps every file of the
// page (the engines and the packages with it) in a cache named after the
// build, so that the page works with the network off from then on.  While
// the network answers, files come from it (the server answers 304 for what
// has not changed), so a new build is seen at once; the cache is the
// fallback.  A new build brings a new list and a new name: the old cache
// goes when this worker takes over.
const BUILD = "__BUILD__";
const FILES = __FILES__;
const CACHE = `tarnwick-${BUILD}`;

self.addEventListener("install", (event) => {
    event.waitUntil(
        caches
            .open(CACHE)
            .then((cache) => cache.addAll(FILES.map((f) => new Request(f, { cache: "no-cache" }))))
            .then(() => self.skipWaiting()),
    );
});

self.addEventListener("activate", (event) => {
    event.waitUntil(
        caches
            .keys()
            .then((names) =>
                Promise.all(names.filter((n) => n.startsWith("tarnwick-") && n !== CACHE).map((n) => caches.delete(n))),
            )
            .then(() => self.clients.claim()),
    );
});

self.addEventListener("fetch", (event) => {
    const request = event.request;
    if (request.method !== "GET" || new URL(request.url).origin !== self.location.origin) return;
    event.respondWith(
        fetch(request).then(
            (response) => {
                // What the network sends is kept too (a page's own files only).
                if (response.ok && response.type === "basic") {
                    const copy = response.clone();
                    caches.open(CACHE).then((cache) => cache.put(request, copy));
                }
                return response;
            },
            () =>
                // The worker's address carries the engine's name after '?'.
                caches.open(CACHE).then((cache) =>
                    cache
                        .match(request)
                        .then((hit) => hit || cache.match(request, { ignoreSearch: true }))
                        .then(
                            (hit) =>
                                hit ||
                                (request.mode === "navigate" ? cache.match("./") : undefined) ||
                                Response.error(),
                        ),
                ),
        ),
    );
});
