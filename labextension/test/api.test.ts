import { Failure, Parse, readsSourceText, ZorvikClient } from '../src/api';
import { StandIn } from './stand-in';

const URL = 'http://127.0.0.1/a%40b/api/zorvik/workspaces';

// A JSON.parse that hands revivers no source text, as older browsers do.
const withoutSourceText: Parse = (text, reviver) =>
  JSON.parse(text, reviver && ((key: string, value: any) => reviver(key, value)));

async function failure(promise: Promise<unknown>): Promise<string> {
  try {
    await promise;
  } catch (e) {
    expect(e).toBeInstanceOf(Failure);
    return (e as Failure).text;
  }
  throw new Error('did not fail');
}

describe('failure texts', () => {
  it.each([
    ['the error of our answers', 502, { error: 'Zorvik URL is invalid.' }, '', 'Error 502: Zorvik URL is invalid.'],
    [
      "the route's 400 message",
      400,
      { message: 'workspace_id is required in the body of the request.' },
      'Bad Request',
      'Error 400: workspace_id is required in the body of the request.'
    ],
    ['an error page, by its status line', 500, '<html>oops</html>', 'Internal Server Error', 'Error 500: Internal Server Error'],
    ['neither text nor status line', 503, '', '', 'Error 503: The request failed.'],
    ['an empty error text', 502, { error: '' }, 'Bad Gateway', 'Error 502: Bad Gateway']
  ])('%s', async (_case, status, body, statusText, text) => {
    const server = new StandIn().answer(status, body, statusText);
    expect(await failure(new ZorvikClient(server.send, URL).list())).toBe(text);
  });

  it('says the server did not answer', async () => {
    const server = new StandIn();
    server.answers.push('no answer');
    expect(await failure(new ZorvikClient(server.send, URL).join('7'))).toBe('The notebook server did not answer.');
  });

  it.each([[{ workspaces: [] }], [[1, 2]], [[null]]])('refuses a list that is none: %j', async body => {
    const server = new StandIn().answer(200, body);
    expect(await failure(new ZorvikClient(server.send, URL).list())).toBe(
      "The server's answer is not a list of workspaces."
    );
  });
});

// 2**53 + 1 reads as the number 2**53; 10**400 as Infinity.
const HUGE = '1' + '0'.repeat(400);
const LISTED =
  `[{"id": 9007199254740993, "name": "Far", "current": true}, {"id": ${HUGE}, "name": "Huge"},` +
  ' {"id": 7, "name": "  "}, {"id": 1.5, "name": "Half"}, {"name": "No id"}, {"id": "8", "name": "Text"}]';

describe('ids', () => {
  it('are read as the digits the API wrote where the browser can', async () => {
    expect(readsSourceText(JSON.parse)).toBe(true);
    const workspaces = await new ZorvikClient(new StandIn().answer(200, LISTED).send, URL).list();
    expect(workspaces.map(w => [w.label, w.id.digits, w.current])).toEqual([
      ['Far', '9007199254740993', true],
      ['Huge', HUGE, false],
      ['Unnamed workspace (id 7)', '7', false],
      ['Half', null, false],
      ['No id', null, false],
      ['Text', null, false]
    ]);
  });

  it('are refused where a number would round them', async () => {
    expect(readsSourceText(withoutSourceText)).toBe(false);
    const workspaces = await new ZorvikClient(new StandIn().answer(200, LISTED).send, URL, withoutSourceText).list();
    expect(workspaces.map(w => [w.id.digits, w.id.reason])).toEqual([
      [null, 'This browser cannot read its id exactly, so it cannot be joined here.'],
      [null, 'This browser cannot read its id exactly, so it cannot be joined here.'],
      ['7', null],
      [null, 'Its id is not a whole number, so it cannot be joined here.'],
      [null, 'It has no id, so it cannot be joined here.'],
      [null, 'It has no id, so it cannot be joined here.']
    ]);
  });
});

describe('joining', () => {
  it.each([
    ['9007199254740993', '{"workspace_id": 9007199254740993}'],
    [null, '{"workspace_id": null}']
  ])('sends the digits as they are: %s', async (digits, body) => {
    const server = new StandIn().answer(200, { success: true });
    await new ZorvikClient(server.send, URL).join(digits);
    expect(server.sent).toEqual([{ url: URL, method: 'POST', body, contentType: 'application/json' }]);
  });

  it('never sends what is no whole number', async () => {
    const server = new StandIn();
    expect(await failure(new ZorvikClient(server.send, URL).join('1, "x": 2'))).toBe(
      'Its id is not a whole number, so it cannot be joined here.'
    );
    expect(server.sent).toEqual([]);
  });
});
